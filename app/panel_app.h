#pragma once
// CPanelApp: the application object. InitInstance runs the main window modally for the whole
// run and returns false, so that the program ends when the window closes.
//
// SIGINT and SIGTERM close the main window as its close box would, so that the panel still
// switches the channels off and a simulator started with --simulate is stopped.

#include <QApplication>

class CMainDlg;
class QDialog;
class QSocketNotifier;
class QTranslator;

// Names the running application "Lumitrax" (the default caption of its message boxes), with
// its version and icon. It sets no display name on purpose: the X11 platform appends a display
// name to every window title (" — Lumitrax"), and each caption must read exactly as its window
// sets it. Called by the CPanelApp constructor; on the window thread.
void SetApplicationIdentity();

class CPanelApp : public QApplication {
    Q_OBJECT

public:
    CPanelApp(int& argc, char** argv);
    ~CPanelApp() override;

    CPanelApp(const CPanelApp&) = delete;
    CPanelApp& operator=(const CPanelApp&) = delete;

    // Shows the windows made from now on in language: "en" English captions (translations
    // built into the program), "ko" or empty the original Korean ones. False when the English
    // translations cannot be loaded (the captions stay Korean).
    bool SetLanguage(const QString& language);
    // Constructs the main window, runs it until it closes, destroys it; returns false.
    bool InitInstance();
    // The main window while InitInstance runs, else null.
    CMainDlg* MainWnd() const { return m_pMainWnd; }

private:
    void InstallStopSignals();
    void OnStopSignal();

    CMainDlg* m_pMainWnd = nullptr;
    QSocketNotifier* m_stopNotifier = nullptr;
    QTranslator* m_translator = nullptr;
};

// Installs the English translations into the running application; false when they cannot be
// loaded. Window thread, before the windows are made.
bool InstallEnglishCaptions(QCoreApplication& app, QTranslator& translator);

// Ends the main window on a stop signal (SIGINT, SIGTERM): every modal window open above it
// (a message box, the About box) is closed first, so that the program ends instead of waiting
// for a click on a window nobody sees.
void EndModalWindows(QDialog* mainWnd);
