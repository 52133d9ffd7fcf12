// Building the controls of the panel: the fixed layout from the template, the repeated rows
// (channels, triggers, DAC bandwidth) in code, and the accessible names by which screen readers
// and UI automation find every control.
#include "control_panel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <utility>

#include "artwork.h"
#include "dialog_units.h"
#include "message_list.h"
#include "ui_panel.h"
#include "updown_spin.h"

namespace {

// x of the matrix columns 0..3 (column 3 holds the on boxes) and of their header boxes.
constexpr std::array<int, kMatrixColumns> kMatrixX = {138, 129, 120, 110};
constexpr int kHeaderY = 87;
constexpr int kFirstRowY = 99;
constexpr int kRowPitch = 14;
constexpr int kFirstTriggerRowY = 370;
constexpr int kFirstBandwidthRowY = 186;
constexpr int kBandwidthPitch = 11;

QString StripMnemonic(QString text) {
    // "&&" is a literal ampersand; a single "&" marks the mnemonic.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

// Gives a drop-down its edit line. QComboBox::setEditable would also build the drop-down's list
// window at once (in the style used here), long before anyone opens it; this way it is built
// when first opened, as an editable drop-down's list.
void MakeEditable(QComboBox* combo) { combo->setLineEdit(new QLineEdit(combo)); }

template <typename W>
W* Place(W* widget, const DialogUnits& units, int x, int y, int width, int height, bool visible = true) {
    widget->setGeometry(units.Rect(x, y, width, height));
    // Also a row built after the panel was first shown.
    widget->setVisible(visible);
    return widget;
}

}  // namespace

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
    MakeEditable(m_comboPort);
    m_comboPort->setCompleter(nullptr);
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
    MakeEditable(m_comboRawCommand);
    // The editable drop-downs take the text as typed: a completer would fill in the rest of a
    // matching entry, and the raw command line must send exactly what the operator typed.
    m_comboRawCommand->setCompleter(nullptr);
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

    // The captions of the configuration column in another language can be longer than the
    // template's labels: the labels grow and the edits beside them give way, keeping their
    // right edge and their common left edge. The template's own captions fit (and measuring
    // them would load the Korean font before the window is first shown).
    const std::pair<QLabel*, QWidget*> column[] = {
        {ui.labelConfigModel, m_editConfigModel}, {ui.labelConfigSerial, m_editConfigSerial},
        {ui.labelConfigId, m_editConfigId},       {ui.labelConfigChannels, m_editConfigChannels},
        {ui.labelOffset, m_editOffset},           {ui.labelTrigChannels, m_editTrigChannels},
    };
    int extra = 0;
    if (ui.labelConfigChannels->text() != QStringLiteral("채널수")) {
        for (const auto& [label, edit] : column) {
            extra = std::max(extra, label->fontMetrics().horizontalAdvance(label->text()) - label->contentsRect().width());
        }
    }
    for (const auto& [label, edit] : column) {
        if (extra > 0) {
            label->resize(label->width() + extra, label->height());
            edit->setGeometry(edit->geometry().adjusted(extra, 0, 0, 0));
        }
    }

    // The rows (channels, triggers, DAC bandwidth): CompleteRows. They follow this control in
    // the tab order.
    m_pRowsTabAnchor = window()->previousInFocusChain();
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
        m_spinTrigDelay[r] = Place(new CUpDownSpin(this), units, 115, y, 52, 12);
        m_spinTrigOnTime[r] = Place(new CUpDownSpin(this), units, 170, y, 52, 12);
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

void CControlPanelDlg::NameRows() {
    const auto name = [](QWidget* widget, const QString& text) { widget->setAccessibleName(text); };
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
    }
    for (int i = 0; i < kChannelCount; ++i) {
        name(m_editBandwidthLow[i], QStringLiteral("DAC %1 low").arg(i + 1));
        name(m_editBandwidthHigh[i], QStringLiteral("DAC %1 high").arg(i + 1));
    }
    for (int r = 0; r < kTriggerRows; ++r) {
        const QString row = QStringLiteral("Trigger%1").arg(r + 1);
        name(m_checkTrigEnable[r], row);
        name(m_comboTrigEdge[r], row + QStringLiteral(" edge"));
        name(m_spinTrigDelay[r], row + QStringLiteral(" Delay"));
        name(m_spinTrigOnTime[r], row + QStringLiteral(" ON time"));
        name(m_editTrigOffTime[r], row + QStringLiteral(" OFF time"));
        name(m_editTrigMaxFreq[r], row + QStringLiteral(" Max Freq."));
    }
}

void CControlPanelDlg::NameControls() {
    // Controls without a caption of their own, or whose caption repeats elsewhere on the panel.
    // A name that repeats a translated caption is translated with it (same context).
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
    name(m_editConfigModel, QCoreApplication::translate("PanelTemplate", "모델명"));
    name(m_editConfigSerial, QStringLiteral("Config S/N"));
    name(m_editConfigId, QStringLiteral("Config ID"));
    name(m_editConfigChannels, QCoreApplication::translate("PanelTemplate", "채널수"));
    name(m_editOffset, QStringLiteral("Offset"));
    name(m_editTrigChannels, QCoreApplication::translate("PanelTemplate", "Trig채널수"));
    name(m_checkBandwidthAll, QStringLiteral("DAC bandwidth All"));
    // The rows: NameRows.

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

