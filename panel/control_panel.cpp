#include "control_panel.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTextLayout>
#include <QPointer>
#include <QTimerEvent>

#include "accessible_toggles.h"
#include "artwork.h"
#include "data_exchange.h"
#include "dialog_units.h"
#include "message_list.h"
#include "port_list.h"
#include "panel_internal.h"
#include "updown_spin.h"
#include "window_geometry.h"

#include <algorithm>

namespace {


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

// Where a key's receiver stands with respect to the panel.
enum class KeyScope {
    Outside,  // another window: the main window itself, a dialog, a message box, a menu
    Control,  // one of the panel's controls, or a part of one
    Popup,    // the open list of one of the panel's drop-downs
};

KeyScope ScopeOf(const QWidget* panel, QObject* receiver) {
    auto* widget = qobject_cast<QWidget*>(receiver);
    bool inPopup = false;
    while (widget != nullptr && widget != panel) {
        if (widget->isWindow()) {
            // A drop-down's list is a window of its own that belongs to its control (its
            // parent, or for a completer's list the control it stands in for). Menus,
            // dialogs and message boxes keep their own keys.
            if (widget->windowType() != Qt::Popup || qobject_cast<QMenu*>(widget) != nullptr) {
                return KeyScope::Outside;
            }
            inPopup = true;
            widget = widget->parentWidget() != nullptr ? widget->parentWidget() : widget->focusProxy();
        } else {
            widget = widget->parentWidget();
        }
    }
    if (widget == nullptr) {
        return KeyScope::Outside;
    }
    return inPopup ? KeyScope::Popup : KeyScope::Control;
}

bool IsEnterOrEscape(const QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

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
    InstallAccessibleToggles();
    BuildControls();
    NameControls();
    OnInitDialog();
    if (!m_bDeferRows) {
        CompleteRows();
    }
}

void CControlPanelDlg::CompleteRows() {
    const DialogUnits units = DialogUnits::ForFont(font());
    BuildChannelRows(units);
    BuildTriggerRows(units);
    BuildBandwidthRows(units);
    m_bRowsBuilt = true;
    // In the tab order the rows follow the template's controls: channels, triggers, DAC. (The
    // captions, which take no focus, stay where they were made.)
    QWidget* before = m_pRowsTabAnchor;
    const auto follow = [&before](QWidget* widget) {
        QWidget::setTabOrder(before, widget);
        before = widget;
    };
    for (QCheckBox* box : m_checkAll) {
        follow(box);
    }
    for (int i = 0; i < kChannelCount; ++i) {
        follow(m_sliderBright[i]);
        for (int c = 0; c < kMatrixColumns; ++c) {
            follow(m_checkMatrix[kMatrixColumns * i + c]);
        }
        follow(m_checkGroup[i]);
        follow(m_sliderBright[kChannelCount + i]);
    }
    for (int r = 0; r < kTriggerRows; ++r) {
        follow(m_checkTrigEnable[r]);
        follow(m_comboTrigEdge[r]);
        follow(m_spinTrigDelay[r]);
        follow(m_spinTrigOnTime[r]);
        follow(m_editTrigOffTime[r]);
        follow(m_editTrigMaxFreq[r]);
    }
    for (int i = 0; i < kChannelCount; ++i) {
        follow(m_editBandwidthLow[i]);
        follow(m_editBandwidthHigh[i]);
    }
    NameRows();
    // The initialisation's steps for these rows, in its order.
    {
        // 1. and 12.: the rows show the members' values.
        const Lockout lockout(m_nLockout);
        DataExchange dx(false);
        ExchangeBandwidthRows(dx);
    }
    // 2.
    for (QSlider* slider : m_sliderBright) {
        slider->setRange(0, static_cast<int>(m_nMaxBright));
    }
    // 4.
    for (int r = 0; r < kTriggerRows; ++r) {
        m_spinTrigDelay[r]->SetRange(1, 4000);
        m_spinTrigDelay[r]->SetPos(1);
        m_spinTrigOnTime[r]->SetRange(1, 4000);
        m_spinTrigOnTime[r]->SetPos(1);
    }
    // 5.
    for (QComboBox* edge : m_comboTrigEdge) {
        edge->setCurrentIndex(0);
    }
    // 7., 8.
    for (int i = 0; i < kSliderCount; ++i) {
        m_staticChannel[i]->setText(QStringLiteral("CH%1").arg(i + 1));
    }
    for (int i = 0; i < 8; ++i) {
        m_checkGroup[i]->setText(QStringLiteral("GROUP%1").arg(i + 1));
    }
    ConnectRows();
    m_bCreated = true;
}

void CControlPanelDlg::EnsureRows() {
    if (m_editSerial != nullptr && !m_bRowsBuilt) {
        CompleteRows();
    }
}

bool CControlPanelDlg::OnInitDialog() {
    // 1. The controls are attached; show the members' initial values.
    UpdateData(false);
    // 2. (With the rows: CompleteRows.)
    // 3.
    m_fBandwidthHigh.fill(1.2f);
    // 4., 5. (With the rows: CompleteRows.)
    // 6.
    for (CUpDownSpin* spin : m_spinTrigMemory) {
        spin->SetRange(0, kMemoryCount - 1);
    }
    // 7., 8. (With the rows: CompleteRows.)
    // 9.
    m_comboTestMode->setCurrentIndex(kTestModeProduction);
    // 10.
    for (CUpDownSpin* spin : {m_spinSaveBright, m_spinLoadBright}) {
        spin->SetPos(0);
        spin->SetRange(0, kBrightMemoryCount - 1);
    }
    // 11.
    m_firmwareTool.Clear();
    // 12.
    UpdateData(false);
    // 13.
    if (!m_bDeferPortList) {
        FillPortList();
    }
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

void CControlPanelDlg::EnsurePortList() {
    if (m_bCreated && !m_bPortListFilled) {
        FillPortList();
    }
}

void CControlPanelDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if ((m_bDeferPortList && !m_bPortListFilled) || (m_bDeferRows && !m_bRowsBuilt)) {
        // After the window has reached the screen and drawn itself.
        RunAfterFirstFrame(window(), [panel = QPointer<CControlPanelDlg>(this)] {
            if (panel != nullptr) {
                panel->EnsureRows();
                panel->EnsurePortList();
            }
        });
    }
}

void CControlPanelDlg::FillPortList() {
    m_bPortListFilled = true;
    int widest = 0;
    for (const PortEntry& entry : m_platform.Ports()) {
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
    const auto onSpinChange = [this](CUpDownSpin* spin, Handler handler) {
        connect(spin, &QSpinBox::valueChanged, this, [this, handler] { Dispatch([&] { (this->*handler)(); }); });
    };

    // The rows (channels, trigger rows): ConnectRows.

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

    // Keys (Enter, Escape) and the DAC edits' loss of focus go through the event filter. It
    // sits on the application so that it also sees the parts that controls create later: a
    // drop-down's list, a completer's list.
    QCoreApplication::instance()->installEventFilter(this);
}

void CControlPanelDlg::ConnectRows() {
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
    const auto onClick = [this](QCheckBox* box, void (CControlPanelDlg::*handler)()) {
        connect(box, &QAbstractButton::clicked, this, [this, handler] { Dispatch([&] { (this->*handler)(); }); });
    };
    for (int i = 0; i < kChannelCount; ++i) {
        onClick(m_checkMatrix[kMatrixColumns * i + kOnColumn], &CControlPanelDlg::SendOnMask);
    }
    onClick(m_checkAll[kOnColumn], &CControlPanelDlg::OnAllChannelsClicked);
    for (int r = 0; r < kTriggerRows; ++r) {
        for (CUpDownSpin* spin : {m_spinTrigDelay[r], m_spinTrigOnTime[r]}) {
            connect(spin, &QSpinBox::valueChanged, this, [this] { Dispatch([&] { OnTriggerChange(); }); });
        }
        connect(m_comboTrigEdge[r], &QComboBox::activated, this, [this] { Dispatch([&] { OnTriggerChange(); }); });
    }
}

bool CControlPanelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (IsEnterOrEscape(event)) {
        const KeyScope scope = ScopeOf(this, watched);
        // In an open drop-down list Enter picks the highlighted entry and Escape closes the
        // list: the list's own use of the keys, which ends in the list and never reaches the
        // window. Elsewhere a shortcut override swallowed here stays unaccepted, so the key
        // press follows and is swallowed in turn.
        if (scope == KeyScope::Control) {
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        // Only a move of the focus to another control counts; a menu or list opening over the
        // edit, or another window becoming active, leaves the focus where it is.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            for (int i = 0; i < kChannelCount; ++i) {
                if (watched == m_editBandwidthLow[i] || watched == m_editBandwidthHigh[i]) {
                    Dispatch([&] { OnBandwidthKillFocus(); });
                    break;
                }
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
    if (m_bRowsBuilt) {
        ExchangeBandwidthRows(dx);
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

void CControlPanelDlg::ExchangeBandwidthRows(DataExchange& dx) {
    for (int i = 0; i < kChannelCount; ++i) {
        dx.Float(m_editBandwidthLow[i], m_fBandwidthLow[i]);
    }
    for (int i = 0; i < kChannelCount; ++i) {
        dx.Float(m_editBandwidthHigh[i], m_fBandwidthHigh[i]);
    }
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
    if (m_listMessages == nullptr) {
        return;
    }
    m_listMessages->AddLine(text);
}

void CControlPanelDlg::AddMessageLines(const QString& text) {
    if (m_listMessages == nullptr) {
        return;
    }
    // The list has no horizontal room to spare: a reason such as "held by another program;
    // close the port there first" would be cut at its right edge.
    const QFontMetrics metrics(m_listMessages->font());
    // The room for text: inside the frame, beside the vertical scroll bar, less the margins
    // of an item.
    const int scrollBar = m_listMessages->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_listMessages);
    const qreal width = m_listMessages->contentsRect().width() - scrollBar - 2 * metrics.averageCharWidth();
    QTextLayout layout(text, m_listMessages->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList pieces;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max<qreal>(width, metrics.averageCharWidth() * 8));
        pieces << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    for (auto piece = pieces.crbegin(); piece != pieces.crend(); ++piece) {
        AddMessage(*piece);
    }
}

int CControlPanelDlg::MessageCount() const {
    return m_listMessages != nullptr ? m_listMessages->count() : 0;
}

QString CControlPanelDlg::MessageText(int row) const {
    return m_listMessages != nullptr ? m_listMessages->text(row) : QString();
}

void CControlPanelDlg::ClearMessages() {
    if (m_listMessages != nullptr) {
        m_listMessages->Clear();
    }
}

void CControlPanelDlg::DestroyControls() {
    m_bCreated = false;
    m_timers.KillAll();
    QCoreApplication::instance()->removeEventFilter(this);
    const QObjectList direct = children();
    for (QObject* object : findChildren<QObject*>()) {
        QObject::disconnect(object, nullptr, this, nullptr);
    }
    qDeleteAll(direct);
}
