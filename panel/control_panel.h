#pragma once
// CControlPanelDlg: the operator's window, a child of the main window built from template 103.
//
// It owns the program's one DeviceLink and every control through which the operator works the
// controller. This class holds the panel's model (the members below with their initial values),
// its control arrays, the exchange between edit fields and members, the message list, the
// initialisation and the destruction, and the table that connects every control event to its
// handler. The handlers of each group of actions live in a source file of their own.
//
// Threads: everything here runs on the window thread. Contract of the handlers: they run only
// after Create() and never while the fields are being exchanged (UpdateData), when control
// notifications are ignored.

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

#include "command_send.h"
#include "config_file.h"
#include "device_link.h"
#include "platform.h"
#include "window_timers.h"

class DataExchange;
class DialogUnits;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class CMessageList;
class QPushButton;
class QSlider;
class CUpDownSpin;

constexpr int kSliderCount = 32;        // 0..15 one per channel row, 16..31 the never-shown column
constexpr int kMatrixColumns = 4;       // entry 4 x row + column
constexpr int kMatrixCount = kChannelCount * kMatrixColumns;
constexpr int kOnColumn = 3;            // column 3 of a row is that channel's on box
constexpr int kHeaderCount = 4;         // above the matrix columns; the fourth is "all channels on"
constexpr int kGroupCheckCount = 16;    // the group boxes that have a window (of 32 in the layout)
constexpr int kTriggerRows = 4;
constexpr int kBrightMemoryCount = kMemoryCount;
constexpr int kTestModeProduction = 5;  // "양산테스트", selected at initialisation

// Timer ids of the panel window.
constexpr int TIMER_TEST = 1;    // 30 ms while "&Test" is down
constexpr int TIMER_STATUS = 2;  // 200 ms while a port is open

// A channel slider's scroll notification, in trackbar terms. Dragging gives ThumbTrack for
// each movement and ThumbPosition at release; EndTrack is never raised (nothing is sent then).
enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbTrack, ThumbPosition, Top, Bottom, EndTrack };

// The launch record of the external firmware tool.
struct FirmwareToolLaunch {
    int showMode = 0;                        // 5 once a launch has succeeded
    std::unique_ptr<ILaunchedTool> process;  // held from a successful launch on
    void Clear() {
        showMode = 0;
        process.reset();
    }
};

class CControlPanelDlg : public QWidget {
    Q_OBJECT

public:
    // Sets every member to its initial value. No control and no link exist until Create().
    // parentWnd is the main window; the panel is its child and resizes it in window mode.
    explicit CControlPanelDlg(QWidget* parentWnd, PanelPlatform platform = PanelPlatform::Real());
    // Deletes the link (an open port gets the all-channels-off command), then ends a firmware
    // tool that the panel started, then destroys the controls.
    ~CControlPanelDlg() override;

    CControlPanelDlg(const CControlPanelDlg&) = delete;
    CControlPanelDlg& operator=(const CControlPanelDlg&) = delete;

    // Builds the controls of template 103 (hidden until the panel is shown) and runs the
    // initialisation. Call once.
    void Create();
    // True once every control is built and the handlers run.
    bool IsCreated() const { return m_bCreated; }
    // Called before Create(): the port drop-down is filled once the window has first shown and
    // drawn itself (listing the system's ports takes a noticeable share of start-up), or when
    // "Open" needs it earlier.
    void DeferPortList() { m_bDeferPortList = true; }
    // Called before Create(): the rows that the first frame does not show (the channel rows,
    // hidden until a port opens; the trigger and DAC rows, beyond the window's first size) are
    // built once the window has first shown and drawn itself, so that the window reaches the
    // screen sooner. Until then IsCreated() is false and no handler runs.
    void DeferRows() { m_bDeferRows = true; }

    // Reading back (true): copies the bound fields into the members in binding order and stops
    // at the first field that fails to parse or validate; a message box names it, the focus
    // goes to it, and that member and those bound after it keep their values. Returns false
    // then. Showing (false): writes every member into its field; always true.
    bool UpdateData(bool bSaveAndValidate = true);

    // Inserts text as the first line of the message list. The list keeps the newest 100,000
    // lines: the oldest line goes when a new one would pass that.
    void AddMessage(const QString& text);
    // Adds text as lines that each fit the message list's width (broken between words where
    // possible), so that the whole text reads from the top down, its start the newest line.
    void AddMessageLines(const QString& text);
    // Deletes every line of the message list.
    void ClearMessages();
    // Lines in the message list, and the text of one; row 0 is the newest line, a row
    // outside the list gives an empty text.
    int MessageCount() const;
    QString MessageText(int row) const;

    // The panel window's numbered timers (TIMER_TEST, TIMER_STATUS); a tick runs OnTimer(id).
    void SetTimer(int id, int milliseconds) { m_timers.Set(id, milliseconds); }
    void KillTimer(int id) { m_timers.Kill(id); }
    const WindowTimers& Timers() const { return m_timers; }

    const PanelPlatform& Platform() const { return m_platform; }

    // Sends a command through the link with the block its catalogue entry names (checked at
    // compile time); with no port open nothing is sent.
    template <CommandId Id>
        requires kTakesNoBlock<Id>
    void Send() {
        if (m_pLink) {
            SendTyped<Id>(*m_pLink);
        }
    }
    template <CommandId Id>
        requires(!kTakesNoBlock<Id>)
    void Send(const CommandBlock<Id>& block) {
        if (m_pLink) {
            SendTyped<Id>(*m_pLink, block);
        }
    }
    QWidget* ParentWnd() const { return m_pParentWnd; }

    // ---- Handlers of the event table ----
    // Channels and brightness.
    virtual void OnHScroll(int slider, ScrollCode code);
    virtual void SendOnMask();
    virtual void OnAllChannelsClicked();
    // Timers: TIMER_TEST runs OnTestTick, TIMER_STATUS OnStatusRefresh, other ids nothing.
    virtual void OnTimer(int id);
    // Status refresh, test and bright memories.
    virtual void OnStatusRefresh();
    virtual void OnTestTick();
    // One tick of the production test (test mode 5), by its phase.
    void OnProductionTestTick();
    virtual void OnTestToggle();
    virtual void OnSaveBright();
    virtual void OnLoadBright();
    virtual void OnLoadBrightIndexChange();
    virtual void OnFactoryReset();
    // Port management.
    virtual void OnOpenPort();
    virtual void OnClosePort();
    virtual void OnRefresh();
    virtual void OnSearchPorts();
    virtual void OnFirmwareUpdate();
    // Trigger options.
    virtual void ApplyTriggers();
    virtual void OnOneShotTrig();
    virtual void OnTrigEnableAll();
    virtual void OnTrigAll();
    virtual void OnTriggerChange();
    // Outputs, memories and module actions.
    virtual void OnClear();
    virtual void OnSaveTriggerMemory();
    virtual void LoadTriggerMemory();
    virtual void OnTrigMemoryIndexChange();
    virtual void OnBuzzer();
    virtual void OnErrorIgnore();
    virtual void OnOutPort();
    virtual void OnSetWindowMode();
    virtual void OnSendRaw();
    virtual void OnBandwidthAll();
    virtual void OnBandwidthKillFocus();
    virtual void OnHelp();
    // Module configuration file and debug log.
    virtual void LoadConfigFile();
    virtual void SaveConfigFile();
    virtual void ApplyConfigToModule();
    virtual void SaveDebugLog();

    // ---- Model ----
    std::unique_ptr<DeviceLink> m_pLink;
    int m_nChannelCount = 0;
    int m_nChannelInput = 8;
    int m_nPortNumber = 1;
    int m_bPortOpen = 0;
    unsigned m_nMaxBright = 1024;
    int m_nGrabBase = 0;
    int m_nTestValue = 0;
    int m_nTestTick = 0;
    unsigned char m_bTestToggle = 0;
    int m_nTestChannel = 0;
    int m_nTestPhase = 0;
    int m_nTestBlinks = 0;
    QString m_strSerial = QStringLiteral("---");
    QString m_strFwVersion = QStringLiteral("---");
    QString m_strHwVersion = QStringLiteral("---");
    QString m_strModel = QStringLiteral("---");
    QString m_strBuild = QStringLiteral("---");
    QString m_strModuleId = QStringLiteral("---");
    QString m_strConfigModel = QStringLiteral("Model Name");
    QString m_strConfigSerial;
    int m_nConfigId = 0;
    int m_nConfigChannels = 8;
    int m_nOffset = 17;
    int m_nTrigChannels = 0;
    QString m_strConfigPath;
    std::array<float, kChannelCount> m_fBandwidthLow{};
    std::array<float, kChannelCount> m_fBandwidthHigh{};
    FirmwareToolLaunch m_firmwareTool;
    ConfigLines m_configLines{};  // the last loaded configuration file, line by line
    unsigned char m_bWindowMode = 0;

    // ---- Control arrays ----
    std::array<QSlider*, kSliderCount> m_sliderBright{};
    std::array<QLabel*, kSliderCount> m_staticChannel{};
    std::array<QCheckBox*, kMatrixCount> m_checkMatrix{};
    std::array<QCheckBox*, kHeaderCount> m_checkAll{};
    std::array<QCheckBox*, kGroupCheckCount> m_checkGroup{};
    QCheckBox* m_checkGrab = nullptr;
    CMessageList* m_listMessages = nullptr;
    QComboBox* m_comboPort = nullptr;
    QComboBox* m_comboTestMode = nullptr;
    QPushButton* m_checkTest = nullptr;  // push-like toggle "&Test"
    CUpDownSpin* m_spinSaveBright = nullptr;
    CUpDownSpin* m_spinLoadBright = nullptr;
    QLineEdit* m_editErrorStatus = nullptr;
    std::array<QCheckBox*, kSwitchCount> m_checkIndicator{};  // MODE, GRAB, HOLD, HIGH/LOW
    QCheckBox* m_checkOut0 = nullptr;
    QCheckBox* m_checkOut1 = nullptr;
    QCheckBox* m_checkIn0 = nullptr;
    QCheckBox* m_checkIn1 = nullptr;
    QCheckBox* m_checkTof = nullptr;
    QCheckBox* m_checkUsePacket = nullptr;
    QCheckBox* m_checkUsePwm = nullptr;
    QCheckBox* m_checkUseDebug = nullptr;
    QCheckBox* m_checkUseTrig = nullptr;
    QCheckBox* m_checkUseOnOff = nullptr;
    QCheckBox* m_checkUseSoft = nullptr;
    QCheckBox* m_checkBandwidthAll = nullptr;
    QPushButton* m_checkBuzzer = nullptr;       // push-like toggle "부저"
    QPushButton* m_checkErrorIgnore = nullptr;  // push-like toggle "에러무시"
    QComboBox* m_comboRawCommand = nullptr;
    QPushButton* m_btnSendRaw = nullptr;
    std::array<QCheckBox*, kTriggerRows> m_checkTrigEnable{};
    std::array<CUpDownSpin*, kTriggerRows> m_spinTrigDelay{};
    std::array<CUpDownSpin*, kTriggerRows> m_spinTrigOnTime{};
    std::array<QLineEdit*, kTriggerRows> m_editTrigOffTime{};
    std::array<QLineEdit*, kTriggerRows> m_editTrigMaxFreq{};
    QCheckBox* m_checkTrigEnableAll = nullptr;
    QCheckBox* m_checkTrigAll = nullptr;
    std::array<QComboBox*, kTriggerRows> m_comboTrigEdge{};
    std::array<CUpDownSpin*, 2> m_spinTrigMemory{};  // beside "Save to Mem", beside "Load from Mem"

    // Bound edit fields (see DoDataExchange for the members and their order).
    QLineEdit* m_editSerial = nullptr;
    std::array<QLineEdit*, kChannelCount> m_editBandwidthLow{};
    std::array<QLineEdit*, kChannelCount> m_editBandwidthHigh{};
    QLineEdit* m_editOffset = nullptr;
    QLineEdit* m_editFwVersion = nullptr;
    QLineEdit* m_editModel = nullptr;
    QLineEdit* m_editBuild = nullptr;
    QLineEdit* m_editHwVersion = nullptr;
    QLineEdit* m_editConfigModel = nullptr;
    QLineEdit* m_editConfigSerial = nullptr;
    QLineEdit* m_editConfigId = nullptr;
    QLineEdit* m_editModuleId = nullptr;
    QLineEdit* m_editMaxBright = nullptr;
    QLineEdit* m_editConfigPath = nullptr;
    QLineEdit* m_editConfigChannels = nullptr;
    QLineEdit* m_editChannelInput = nullptr;
    QLineEdit* m_editTrigChannels = nullptr;

    // Buttons.
    QPushButton* m_btnOpen = nullptr;
    QPushButton* m_btnClose = nullptr;
    QPushButton* m_btnSearch = nullptr;
    QPushButton* m_btnRefresh = nullptr;
    QPushButton* m_btnClear = nullptr;
    QPushButton* m_btnSaveBright = nullptr;
    QPushButton* m_btnLoadBright = nullptr;
    QPushButton* m_btnBoardTest = nullptr;  // disabled, no action
    QPushButton* m_btnApplyTrigger = nullptr;
    QPushButton* m_btnOneShotTrig = nullptr;
    QPushButton* m_btnHelp = nullptr;
    QPushButton* m_btnSaveTrigMem = nullptr;
    QPushButton* m_btnLoadTrigMem = nullptr;
    QPushButton* m_btnLoadConfig = nullptr;  // "..."
    QPushButton* m_btnSaveConfig = nullptr;  // "Save file"
    QPushButton* m_btnSaveAs = nullptr;      // hidden, no action
    QPushButton* m_btnApplyConfig = nullptr;
    QPushButton* m_btnFactoryReset = nullptr;
    QPushButton* m_btnFirmwareUpdate = nullptr;
    QPushButton* m_btnWindowMode = nullptr;  // hidden; Alt+M
    QPushButton* m_btnSaveDebug = nullptr;   // hidden; Alt+L

    // Group boxes and the picture.
    QGroupBox* m_groupPortInfo = nullptr;
    QGroupBox* m_groupModuleInfo = nullptr;
    QGroupBox* m_groupBrightMemory = nullptr;
    QGroupBox* m_groupTest = nullptr;
    QGroupBox* m_groupTrigger = nullptr;
    QGroupBox* m_groupConfig = nullptr;
    QLabel* m_staticPicture = nullptr;

protected:
    // Initialisation in its fixed order; the link is created last.
    bool OnInitDialog();
    // The bindings between edit fields and members, in their order.
    void DoDataExchange(DataExchange& dx);
    // Swallows Enter and Escape in the panel and every part of its controls, also in a
    // drop-down's open list (where Escape still closes the list); runs the DAC rule when the
    // focus leaves a DAC edit for another control.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void BuildChannelRows(const DialogUnits& units);
    void BuildTriggerRows(const DialogUnits& units);
    void BuildBandwidthRows(const DialogUnits& units);
    // The rows complete (channels, triggers, DAC bandwidth): built, named, set up and
    // connected; then the panel counts as created.
    void CompleteRows();
    void EnsureRows();
    void ExchangeBandwidthRows(DataExchange& dx);
    void NameControls();
    void NameRows();
    void ConnectEvents();
    void ConnectRows();
    void FillPortList();
    // Fills the port drop-down when that was deferred and has not happened yet.
    void EnsurePortList();
    void DestroyControls();
    // Runs a handler unless control notifications are locked out.
    template <typename F>
    void Dispatch(F&& handler);

    PanelPlatform m_platform;
    QWidget* m_pParentWnd;
    WindowTimers m_timers;
    bool m_bCreated = false;
    bool m_bDeferPortList = false;
    bool m_bDeferRows = false;
    bool m_bRowsBuilt = false;
    QWidget* m_pRowsTabAnchor = nullptr;
    bool m_bPortListFilled = false;
    int m_nLockout = 0;
};
