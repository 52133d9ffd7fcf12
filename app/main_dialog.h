#pragma once
// CMainDlg: the main window, template 102. It hosts the control panel as its child for the
// whole run, shows the start-up splash for three seconds (timer 1) and offers the About box.
//
// The platform's system menu belongs to the window manager on Linux, so the About item that
// the program adds to it ("Lumitrax 정보(&A)..." below a separator) is offered in the
// window's own context menu instead, on every platform alike.

#include <QDialog>
#include <QIcon>

#include <memory>

#include "about_dialog.h"
#include "control_panel.h"
#include "platform.h"
#include "window_timers.h"

class QMenu;

constexpr int IDM_ABOUTBOX = 16;  // command of the About item
constexpr int TIMER_SPLASH = 1;   // main window timer that removes the splash
constexpr int kSplashMilliseconds = 3000;

// What the main window opens smaller than its template, in pixels.
constexpr int kOpenShrinkWidth = 220;
constexpr int kOpenShrinkHeight = 135;

// The caption: the template's caption, the build date and the version.
constexpr char kBuildDate[] = "Feb 25 2013";
constexpr char kVersionSuffix[] = " (2.5)";

class CMainDlg : public QDialog {
    Q_OBJECT

public:
    // Builds the window from its template and initialises it: the panel, the splash, timer 1,
    // position and size, caption. The window itself is shown by exec() or show().
    explicit CMainDlg(QWidget* parent = nullptr, PanelPlatform platform = PanelPlatform::Real());
    // Destroys the panel (which closes the device link), then a splash still shown.
    ~CMainDlg() override;

    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    CControlPanelDlg* Panel() const { return m_pPanel.get(); }
    // The splash, made and shown once the main window has first drawn itself; null before
    // that and once timer 1 has removed it.
    CAboutDlg* Splash() const { return m_pSplash.get(); }
    const WindowTimers& Timers() const { return m_timers; }
    // The template's client size in pixels, before the window shrank itself.
    QSize TemplateClientSize() const { return m_templateClient; }

    // The window's menu: a separator, then the About item; empty when the item's text is.
    void FillSystemMenu(QMenu* menu);
    // IDM_ABOUTBOX (low four bits ignored) runs the About box modally; other ids do nothing.
    void OnSysCommand(int id);
    // Timer 1 destroys the splash and stops itself, so that the splash goes exactly once.
    void OnTimer(int id);

protected:
    bool OnInitDialog();
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    PanelPlatform m_platform;
    QIcon m_hIcon;
    std::unique_ptr<CControlPanelDlg> m_pPanel;
    std::unique_ptr<CAboutDlg> m_pSplash;
    WindowTimers m_timers;
    QString m_strAboutMenu;
    QSize m_templateClient;
};
