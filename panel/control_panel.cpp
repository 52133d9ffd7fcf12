#include "control_panel.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QTimerEvent>

#include "artwork.h"
#include "data_exchange.h"
#include "dialog_units.h"
#include "port_list.h"
#include "ui_panel.h"

#include <algorithm>

namespace {

// x of the matrix columns 0..3 (column 3 holds the on boxes) and of their header boxes.
constexpr std::array<int, kMatrixColumns> kMatrixX = {138, 129, 120, 110};
constexpr int kHeaderY = 87;
constexpr int kFirstRowY = 99;
constexpr int kRowPitch = 14;
constexpr int kFirstTriggerRowY = 370;
constexpr int kFirstBandwidthRowY = 186;
constexpr int kBandwidthPitch = 11;

// RAII: control notifications are ignored while the fields are exchanged.
class Lockout {
public:
    explicit Lockout(int& counter) : counter_(counter) { ++counter_; }
    ~Lockout() { --counter_; }
    Lockout(const Lockout&) = delete;
    Lockout& operator=(const Lockout&) = delete;

private:
    int& counter_;
};

bool ToScrollCode(int action, ScrollCode& code) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: code = ScrollCode::LineDown; return true;
    case QAbstractSlider::SliderSingleStepSub: code = ScrollCode::LineUp; return true;
    case QAbstractSlider::SliderPageStepAdd: code = ScrollCode::PageDown; return true;
    case QAbstractSlider::SliderPageStepSub: code = ScrollCode::PageUp; return true;
    case QAbstractSlider::SliderToMinimum: code = ScrollCode::Top; return true;
    case QAbstractSlider::SliderToMaximum: code = ScrollCode::Bottom; return true;
    case QAbstractSlider::SliderMove: code = ScrollCode::ThumbTrack; return true;
    default: return false;
    }
}

QString StripMnemonic(QString text) {
    // "&&" is a literal ampersand; a single "&" marks the mnemonic.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

template <typename W>
W* Place(W* widget, const DialogUnits& units, int x, int y, int width, int height, bool visible = true) {
    widget->setGeometry(units.Rect(x, y, width, height));
    if (!visible) {
        widget->setVisible(false);
    }
    return widget;
}

}  // namespace

CControlPanelDlg::CControlPanelDlg(QWidget* parentWnd, PanelPlatform platform)
    : QWidget(parentWnd), m_platform(std::move(platform)), m_pParentWnd(parentWnd), m_timers(this) {
    m_fBandwidthLow.fill(0.0f);
    m_fBandwidthHigh.fill(1.2f);
}

CControlPanelDlg::~CControlPanelDlg() {
    m_pLink.reset();
    m_bPortOpen = 0;
    if (m_firmwareTool.process) {
        m_firmwareTool.process->Terminate();
        m_firmwareTool.process.reset();
    }
    DestroyControls();
}

void CControlPanelDlg::Create() {
    if (m_bCreated || m_editSerial != nullptr) {
        return;
    }
    BuildControls();
    NameControls();
    OnInitDialog();
    m_bCreated = true;
}

void CControlPanelDlg::BuildControls() {
    setFont(TemplateFont());
    Ui::PanelTemplate ui;
    ui.setupUi(this);
    const DialogUnits units = DialogUnits::ForFont(font());
    MapTemplateGeometry(this, units);

    m_groupPortInfo = ui.groupPortInfo;
    m_groupModuleInfo = ui.groupModuleInfo;
    m_groupBrightMemory = ui.groupBrightMemory;
    m_groupTest = ui.groupTest;
    m_groupTrigger = ui.groupTrigger;
    m_groupConfig = ui.groupConfig;
    m_staticPicture = ui.labelPicture;
    m_staticPicture->setAlignment(Qt::AlignCenter);
    m_staticPicture->setPixmap(LoadBitmapResource(IDB_ABOUT));

    m_editChannelInput = ui.editChannelInput;
    m_comboPort = ui.comboPort;
    m_btnOpen = ui.btnOpen;
    m_btnClose = ui.btnClose;
    m_btnSearch = ui.btnSearch;
    m_editSerial = ui.editSerial;
    m_editFwVersion = ui.editFwVersion;
    m_editHwVersion = ui.editHwVersion;
    m_editModel = ui.editModel;
    m_editBuild = ui.editBuild;
    m_editModuleId = ui.editModuleId;

    m_editMaxBright = ui.editMaxBright;
    m_btnRefresh = ui.btnRefresh;
    m_editErrorStatus = ui.editErrorStatus;
    m_btnClear = ui.btnClear;
    m_checkOut0 = ui.checkOut0;
    m_checkOut1 = ui.checkOut1;
    m_checkIn0 = ui.checkIn0;
    m_checkIn1 = ui.checkIn1;
    m_checkTof = ui.checkTof;
    m_checkGrab = ui.checkGrab;
    m_checkGrab->setVisible(false);
    m_listMessages = ui.listMessages;

    m_spinSaveBright = ui.spinSaveBright;
    m_btnSaveBright = ui.btnSaveBright;
    m_spinLoadBright = ui.spinLoadBright;
    m_btnLoadBright = ui.btnLoadBright;

    m_comboTestMode = ui.comboTestMode;
    m_checkTest = ui.checkTest;
    m_btnBoardTest = ui.btnBoardTest;

    m_checkIndicator = {ui.checkIndicator0, ui.checkIndicator1, ui.checkIndicator2, ui.checkIndicator3};
    m_comboRawCommand = ui.comboRawCommand;
    m_btnSendRaw = ui.btnSendRaw;
    m_btnWindowMode = ui.btnWindowMode;
    m_btnSaveDebug = ui.btnSaveDebug;

    m_checkTrigEnableAll = ui.checkTrigEnableAll;
    m_checkTrigAll = ui.checkTrigAll;
    m_btnApplyTrigger = ui.btnApplyTrigger;
    m_btnHelp = ui.btnHelp;
    m_btnOneShotTrig = ui.btnOneShotTrig;
    m_btnSaveTrigMem = ui.btnSaveTrigMem;
    m_btnLoadTrigMem = ui.btnLoadTrigMem;
    m_spinTrigMemory = {ui.spinTrigMemory0, ui.spinTrigMemory1};

    m_editConfigPath = ui.editConfigPath;
    m_btnLoadConfig = ui.btnLoadConfig;
    m_btnSaveConfig = ui.btnSaveConfig;
    m_btnSaveAs = ui.btnSaveAs;
    m_editConfigModel = ui.editConfigModel;
    m_editConfigSerial = ui.editConfigSerial;
    m_editConfigId = ui.editConfigId;
    m_editConfigChannels = ui.editConfigChannels;
    m_editOffset = ui.editOffset;
    m_editTrigChannels = ui.editTrigChannels;
    m_checkUsePwm = ui.checkUsePwm;
    m_checkUsePacket = ui.checkUsePacket;
    m_checkUseDebug = ui.checkUseDebug;
    m_checkUseTrig = ui.checkUseTrig;
    m_checkUseOnOff = ui.checkUseOnOff;
    m_checkUseSoft = ui.checkUseSoft;
    m_checkBandwidthAll = ui.checkBandwidthAll;
    m_btnApplyConfig = ui.btnApplyConfig;
    m_checkBuzzer = ui.checkBuzzer;
    m_checkErrorIgnore = ui.checkErrorIgnore;
    m_btnFactoryReset = ui.btnFactoryReset;
    m_btnFirmwareUpdate = ui.btnFirmwareUpdate;

    BuildChannelRows(units);
    BuildTriggerRows(units);
    BuildBandwidthRows(units);
}

void CControlPanelDlg::BuildChannelRows(const DialogUnits& units) {
    for (int c = 0; c < kMatrixColumns; ++c) {
        m_checkAll[c] = Place(new QCheckBox(this), units, kMatrixX[c], kHeaderY, 10, 10, false);
    }
    for (int i = 0; i < kChannelCount; ++i) {
        const int y = kFirstRowY + kRowPitch * i;
        m_staticChannel[i] = Place(new QLabel(this), units, 11, y + 2, 19, 9, false);
        auto* slider = Place(new QSlider(Qt::Horizontal, this), units, 30, y, 78, 12, false);
        m_sliderBright[i] = slider;
        for (int c = 0; c < kMatrixColumns; ++c) {
            m_checkMatrix[kMatrixColumns * i + c] = Place(new QCheckBox(this), units, kMatrixX[c], y + 1, 10, 10, false);
        }
        m_checkGroup[i] = Place(new QCheckBox(this), units, 150, y + 1, 40, 10, false);
        // The second label and slider column: laid out, never shown.
        m_staticChannel[kChannelCount + i] = Place(new QLabel(this), units, 193, y + 2, 16, 9, false);
        m_sliderBright[kChannelCount + i] = Place(new QSlider(Qt::Horizontal, this), units, 209, y, 78, 12, false);
    }
}

void CControlPanelDlg::BuildTriggerRows(const DialogUnits& units) {
    for (int r = 0; r < kTriggerRows; ++r) {
        const int y = kFirstTriggerRowY + kRowPitch * r;
        m_checkTrigEnable[r] = Place(new QCheckBox(QStringLiteral("Trigger%1").arg(r + 1), this), units, 13, y + 1, 46, 10);
        auto* edge = Place(new QComboBox(this), units, 62, y, 50, 12);
        edge->addItems({QStringLiteral("Positive"), QStringLiteral("Negative")});
        m_comboTrigEdge[r] = edge;
        m_spinTrigDelay[r] = Place(new QSpinBox(this), units, 115, y, 52, 12);
        m_spinTrigOnTime[r] = Place(new QSpinBox(this), units, 170, y, 52, 12);
        auto* offTime = Place(new QLineEdit(this), units, 225, y, 52, 12);
        offTime->setReadOnly(true);
        offTime->setEnabled(false);
        m_editTrigOffTime[r] = offTime;
        auto* maxFreq = Place(new QLineEdit(this), units, 280, y, 46, 12);
        maxFreq->setReadOnly(true);
        m_editTrigMaxFreq[r] = maxFreq;
    }
}

void CControlPanelDlg::BuildBandwidthRows(const DialogUnits& units) {
    for (int i = 0; i < kChannelCount; ++i) {
        const int y = kFirstBandwidthRowY + kBandwidthPitch * i;
        auto* label = Place(new QLabel(QString::number(i + 1), this), units, 460, y + 1, 12, 9);
        label->setAccessibleName(QStringLiteral("DAC %1").arg(i + 1));
        m_editBandwidthLow[i] = Place(new QLineEdit(this), units, 473, y, 40, 11);
        auto* tilde = Place(new QLabel(QStringLiteral("~"), this), units, 515, y + 1, 6, 9);
        tilde->setAccessibleName(QStringLiteral("DAC %1 to").arg(i + 1));
        m_editBandwidthHigh[i] = Place(new QLineEdit(this), units, 523, y, 40, 11);
    }
}

void CControlPanelDlg::NameControls() {
    // Controls without a caption of their own, or whose caption repeats elsewhere on the panel.
    const auto name = [](QWidget* widget, const QString& text) { widget->setAccessibleName(text); };
    name(m_staticPicture, QStringLiteral("Lumitrax picture"));
    name(m_editChannelInput, QStringLiteral("Channel"));
    name(m_comboPort, QStringLiteral("Port"));
    name(m_editSerial, QStringLiteral("Port Info S/N"));
    name(m_editFwVersion, QStringLiteral("F/W Version"));
    name(m_editHwVersion, QStringLiteral("H/W Version"));
    name(m_editModel, QStringLiteral("Model"));
    name(m_editBuild, QStringLiteral("Build"));
    name(m_editModuleId, QStringLiteral("Port Info ID"));
    name(m_editMaxBright, QStringLiteral("Max bright range"));
    name(m_editErrorStatus, QStringLiteral("Error Status"));
    name(m_listMessages, QStringLiteral("Messages"));
    name(m_spinSaveBright, QStringLiteral("Bright memory Save index"));
    name(m_spinLoadBright, QStringLiteral("Bright memory Load index"));
    name(m_comboTestMode, QStringLiteral("Test mode"));
    name(m_comboRawCommand, QStringLiteral("Raw command"));
    name(m_checkTrigEnableAll, QStringLiteral("Trigger Enable All"));
    name(m_checkTrigAll, QStringLiteral("Trigger All"));
    name(m_spinTrigMemory[0], QStringLiteral("Save to Mem index"));
    name(m_spinTrigMemory[1], QStringLiteral("Load from Mem index"));
    name(m_editConfigPath, QStringLiteral("Load config file"));
    name(m_btnLoadConfig, QStringLiteral("Load config file ..."));
    name(m_editConfigModel, QStringLiteral("모델명"));
    name(m_editConfigSerial, QStringLiteral("Config S/N"));
    name(m_editConfigId, QStringLiteral("Config ID"));
    name(m_editConfigChannels, QStringLiteral("채널수"));
    name(m_editOffset, QStringLiteral("Offset"));
    name(m_editTrigChannels, QStringLiteral("Trig채널수"));
    name(m_checkBandwidthAll, QStringLiteral("DAC bandwidth All"));

    for (int c = 0; c < kMatrixColumns; ++c) {
        name(m_checkAll[c], c == kOnColumn ? QStringLiteral("All channels on") : QStringLiteral("Column %1 all").arg(c));
    }
    for (int i = 0; i < kSliderCount; ++i) {
        name(m_sliderBright[i], QStringLiteral("CH%1").arg(i + 1));
        name(m_staticChannel[i], QStringLiteral("CH%1").arg(i + 1));
    }
    for (int i = 0; i < kChannelCount; ++i) {
        for (int c = 0; c < kMatrixColumns; ++c) {
            name(m_checkMatrix[kMatrixColumns * i + c],
                 c == kOnColumn ? QStringLiteral("CH%1 on").arg(i + 1) : QStringLiteral("CH%1 column %2").arg(i + 1).arg(c));
        }
        name(m_checkGroup[i], QStringLiteral("GROUP%1").arg(i + 1));
        name(m_editBandwidthLow[i], QStringLiteral("DAC %1 low").arg(i + 1));
        name(m_editBandwidthHigh[i], QStringLiteral("DAC %1 high").arg(i + 1));
    }
    for (int r = 0; r < kTriggerRows; ++r) {
        const QString row = QStringLiteral("Trigger%1").arg(r + 1);
        name(m_comboTrigEdge[r], row + QStringLiteral(" edge"));
        name(m_spinTrigDelay[r], row + QStringLiteral(" Delay"));
        name(m_spinTrigOnTime[r], row + QStringLiteral(" ON time"));
        name(m_editTrigOffTime[r], row + QStringLiteral(" OFF time"));
        name(m_editTrigMaxFreq[r], row + QStringLiteral(" Max Freq."));
    }

    // Every other control is named by its caption.
    for (QObject* object : children()) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget == nullptr || !widget->accessibleName().isEmpty()) {
            continue;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            name(button, StripMnemonic(button->text()));
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            name(label, label->text().replace(QLatin1Char('\n'), QLatin1Char(' ')));
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            QString title = group->title();
            if (title.startsWith(QLatin1Char('[')) && title.endsWith(QLatin1Char(']'))) {
                title = title.mid(1, title.size() - 2);
            }
            name(group, title);
        }
    }
}

bool CControlPanelDlg::OnInitDialog() {
    // 1. The controls are attached; show the members' initial values.
    UpdateData(false);
    // 2.
    for (QSlider* slider : m_sliderBright) {
        slider->setRange(0, static_cast<int>(m_nMaxBright));
    }
    // 3.
    m_fBandwidthHigh.fill(1.2f);
    // 4.
    for (int r = 0; r < kTriggerRows; ++r) {
        m_spinTrigDelay[r]->setRange(1, 4000);
        m_spinTrigDelay[r]->setValue(1);
        m_spinTrigOnTime[r]->setRange(1, 4000);
        m_spinTrigOnTime[r]->setValue(1);
    }
    // 5.
    for (QComboBox* edge : m_comboTrigEdge) {
        edge->setCurrentIndex(0);
    }
    // 6.
    for (QSpinBox* spin : m_spinTrigMemory) {
        spin->setRange(0, kMemoryCount - 1);
    }
    // 7.
    for (int i = 0; i < kSliderCount; ++i) {
        m_staticChannel[i]->setText(QStringLiteral("CH%1").arg(i + 1));
    }
    // 8.
    for (int i = 0; i < 8; ++i) {
        m_checkGroup[i]->setText(QStringLiteral("GROUP%1").arg(i + 1));
    }
    // 9.
    m_comboTestMode->setCurrentIndex(kTestModeProduction);
    // 10.
    for (QSpinBox* spin : {m_spinSaveBright, m_spinLoadBright}) {
        spin->setValue(0);
        spin->setRange(0, kBrightMemoryCount - 1);
    }
    // 11.
    m_firmwareTool.Clear();
    // 12.
    UpdateData(false);
    // 13.
    FillPortList();
    // 14.
    m_comboRawCommand->addItem(QString());
    m_comboRawCommand->setCurrentIndex(0);
    // 15.
    m_pLink = std::make_unique<DeviceLink>(m_platform.serialPorts);

    // From here on the controls' events reach their handlers: the changes made above while
    // attaching and ranging the controls run nothing.
    ConnectEvents();
    return true;
}

void CControlPanelDlg::FillPortList() {
    int widest = 0;
    for (const PortEntry& entry : ListPorts()) {
        m_comboPort->addItem(entry.text);
        widest = std::max(widest, m_comboPort->fontMetrics().horizontalAdvance(entry.text));
    }
    // The entries ("COM3 /dev/ttyUSB0 (FT232R USB UART)") are longer than the drop-down is
    // wide: its list opens as wide as they need.
    m_comboPort->view()->setMinimumWidth(widest + 2 * m_comboPort->fontMetrics().averageCharWidth() + 8);
    if (m_comboPort->count() > 0) {
        m_comboPort->setCurrentIndex(0);
    }
}

template <typename F>
void CControlPanelDlg::Dispatch(F&& handler) {
    if (m_bCreated && m_nLockout == 0) {
        handler();
    }
}

void CControlPanelDlg::ConnectEvents() {
    using Handler = void (CControlPanelDlg::*)();
    const auto onClick = [this](QAbstractButton* button, Handler handler) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { Dispatch([&] { (this->*handler)(); }); });
    };
    const auto onSpinChange = [this](QSpinBox* spin, Handler handler) {
        connect(spin, &QSpinBox::valueChanged, this, [this, handler] { Dispatch([&] { (this->*handler)(); }); });
    };

    // Channels and brightness.
    for (int i = 0; i < kSliderCount; ++i) {
        QSlider* slider = m_sliderBright[i];
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, i](int action) {
            ScrollCode code{};
            if (ToScrollCode(action, code)) {
                Dispatch([&] { OnHScroll(i, code); });
            }
        });
        connect(slider, &QAbstractSlider::sliderReleased, this,
                [this, i] { Dispatch([&] { OnHScroll(i, ScrollCode::ThumbPosition); }); });
    }
    for (int i = 0; i < kChannelCount; ++i) {
        onClick(m_checkMatrix[kMatrixColumns * i + kOnColumn], &CControlPanelDlg::SendOnMask);
    }
    onClick(m_checkAll[kOnColumn], &CControlPanelDlg::OnAllChannelsClicked);

    // Status refresh, test and bright memories (the test-mode drop-down has no action).
    onClick(m_checkTest, &CControlPanelDlg::OnTestToggle);
    onClick(m_btnSaveBright, &CControlPanelDlg::OnSaveBright);
    onClick(m_btnLoadBright, &CControlPanelDlg::OnLoadBright);
    onSpinChange(m_spinLoadBright, &CControlPanelDlg::OnLoadBrightIndexChange);
    onClick(m_btnFactoryReset, &CControlPanelDlg::OnFactoryReset);

    // Port management.
    onClick(m_btnOpen, &CControlPanelDlg::OnOpenPort);
    onClick(m_btnClose, &CControlPanelDlg::OnClosePort);
    onClick(m_btnRefresh, &CControlPanelDlg::OnRefresh);
    onClick(m_btnSearch, &CControlPanelDlg::OnSearchPorts);
    onClick(m_btnFirmwareUpdate, &CControlPanelDlg::OnFirmwareUpdate);

    // Trigger options.
    onClick(m_btnApplyTrigger, &CControlPanelDlg::ApplyTriggers);
    onClick(m_btnOneShotTrig, &CControlPanelDlg::OnOneShotTrig);
    onClick(m_checkTrigEnableAll, &CControlPanelDlg::OnTrigEnableAll);
    onClick(m_checkTrigAll, &CControlPanelDlg::OnTrigAll);
    for (int r = 0; r < kTriggerRows; ++r) {
        onSpinChange(m_spinTrigDelay[r], &CControlPanelDlg::OnTriggerChange);
        onSpinChange(m_spinTrigOnTime[r], &CControlPanelDlg::OnTriggerChange);
        connect(m_comboTrigEdge[r], &QComboBox::activated, this, [this] { Dispatch([&] { OnTriggerChange(); }); });
    }

    // Outputs, memories and module actions ("보드 테스트" and "Save As" have none).
    onClick(m_btnClear, &CControlPanelDlg::OnClear);
    onClick(m_btnSaveTrigMem, &CControlPanelDlg::OnSaveTriggerMemory);
    onClick(m_btnLoadTrigMem, &CControlPanelDlg::LoadTriggerMemory);
    onSpinChange(m_spinTrigMemory[1], &CControlPanelDlg::OnTrigMemoryIndexChange);
    onClick(m_checkBuzzer, &CControlPanelDlg::OnBuzzer);
    onClick(m_checkErrorIgnore, &CControlPanelDlg::OnErrorIgnore);
    onClick(m_checkOut0, &CControlPanelDlg::OnOutPort);
    onClick(m_checkOut1, &CControlPanelDlg::OnOutPort);
    onClick(m_btnApplyConfig, &CControlPanelDlg::ApplyConfigToModule);
    onClick(m_btnWindowMode, &CControlPanelDlg::OnSetWindowMode);
    onClick(m_btnSendRaw, &CControlPanelDlg::OnSendRaw);
    onClick(m_checkBandwidthAll, &CControlPanelDlg::OnBandwidthAll);
    onClick(m_btnHelp, &CControlPanelDlg::OnHelp);

    // Module configuration file and debug log.
    onClick(m_btnLoadConfig, &CControlPanelDlg::LoadConfigFile);
    onClick(m_btnSaveConfig, &CControlPanelDlg::SaveConfigFile);
    onClick(m_btnSaveDebug, &CControlPanelDlg::SaveDebugLog);

    // The hidden buttons are reached through their mnemonics.
    auto* windowMode = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_M), this);
    connect(windowMode, &QShortcut::activated, this, [this] { Dispatch([&] { OnSetWindowMode(); }); });
    auto* saveDebug = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_L), this);
    connect(saveDebug, &QShortcut::activated, this, [this] { Dispatch([&] { SaveDebugLog(); }); });

    // Keys (Enter, Escape) and the DAC edits' loss of focus go through the event filter.
    installEventFilter(this);
    for (QWidget* widget : findChildren<QWidget*>()) {
        widget->installEventFilter(this);
    }
}

bool CControlPanelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        for (int i = 0; i < kChannelCount; ++i) {
            if (watched == m_editBandwidthLow[i] || watched == m_editBandwidthHigh[i]) {
                Dispatch([&] { OnBandwidthKillFocus(); });
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CControlPanelDlg::timerEvent(QTimerEvent* event) {
    const int id = m_timers.Id(event->timerId());
    if (id == 0) {
        QWidget::timerEvent(event);
        return;
    }
    if (m_bCreated) {
        OnTimer(id);
    }
}

void CControlPanelDlg::OnTimer(int id) {
    if (id == TIMER_TEST) {
        OnTestTick();
    } else if (id == TIMER_STATUS) {
        OnStatusRefresh();
    }
}

void CControlPanelDlg::DoDataExchange(DataExchange& dx) {
    dx.Text(m_editSerial, m_strSerial);
    for (int i = 0; i < kChannelCount; ++i) {
        dx.Float(m_editBandwidthLow[i], m_fBandwidthLow[i]);
    }
    for (int i = 0; i < kChannelCount; ++i) {
        dx.Float(m_editBandwidthHigh[i], m_fBandwidthHigh[i]);
    }
    dx.Int(m_editOffset, m_nOffset);
    dx.Text(m_editFwVersion, m_strFwVersion);
    dx.Text(m_editModel, m_strModel);
    dx.Text(m_editBuild, m_strBuild);
    dx.Text(m_editHwVersion, m_strHwVersion);
    dx.Text(m_editConfigModel, m_strConfigModel);
    dx.Text(m_editConfigSerial, m_strConfigSerial);
    dx.Int(m_editConfigId, m_nConfigId);
    dx.Text(m_editModuleId, m_strModuleId);
    // Brightness travels as 16 bits: a larger range would wrap on the wire.
    dx.UInt(m_editMaxBright, m_nMaxBright, 0, 0xFFFF);
    dx.Text(m_editConfigPath, m_strConfigPath);
    dx.Int(m_editConfigChannels, m_nConfigChannels, 4, 16);
    dx.Int(m_editChannelInput, m_nChannelInput);
    dx.Int(m_editTrigChannels, m_nTrigChannels);
}

bool CControlPanelDlg::UpdateData(bool bSaveAndValidate) {
    if (m_editSerial == nullptr) {
        return false;
    }
    const Lockout lockout(m_nLockout);
    DataExchange dx(bSaveAndValidate);
    DoDataExchange(dx);
    if (!dx.Failed()) {
        return true;
    }
    if (m_platform.messageBox) {
        m_platform.messageBox->Show(this, dx.FailureText(), QString(), MessageIcon::None);
    }
    dx.FailedField()->setFocus(Qt::OtherFocusReason);
    dx.FailedField()->selectAll();
    return false;
}

void CControlPanelDlg::AddMessage(const QString& text) {
    if (m_listMessages != nullptr) {
        m_listMessages->insertItem(0, text);
    }
}

void CControlPanelDlg::ClearMessages() {
    if (m_listMessages != nullptr) {
        m_listMessages->clear();
    }
}

void CControlPanelDlg::DestroyControls() {
    m_bCreated = false;
    m_timers.KillAll();
    const QObjectList direct = children();
    for (QObject* object : findChildren<QObject*>()) {
        object->removeEventFilter(this);
        QObject::disconnect(object, nullptr, this, nullptr);
    }
    removeEventFilter(this);
    qDeleteAll(direct);
}
