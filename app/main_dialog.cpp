#include "main_dialog.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QTimerEvent>

#include "artwork.h"
#include "dialog_units.h"
#include "ui_main.h"
#include "window_geometry.h"

namespace {
// String 101 of the resources.
const char* const kAboutMenuText = QT_TRANSLATE_NOOP("CMainDlg", "Lumitrax 정보(&A)...");
}  // namespace

CMainDlg::CMainDlg(QWidget* parent, PanelPlatform platform)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_platform(std::move(platform)),
      m_hIcon(LoadIconResource(IDI_MAINFRAME)),
      m_timers(this) {
    setFont(TemplateFont());
    Ui::MainTemplate ui;
    ui.setupUi(this);
    MapTemplateGeometry(this, DialogUnits::ForFont(font()));
    ui.btnDefault->setAccessibleName(ui.btnDefault->text());
    OnInitDialog();
}

CMainDlg::~CMainDlg() {
    m_timers.KillAll();
    m_pPanel.reset();
    m_pSplash.reset();
}

bool CMainDlg::OnInitDialog() {
    // 2. The About item, offered in the window's own menu (see the header).
    m_strAboutMenu = QCoreApplication::translate("CMainDlg", kAboutMenuText);
    // 3.
    setWindowIcon(m_hIcon);
    // 4.
    m_pPanel = std::make_unique<CControlPanelDlg>(this, m_platform);
    m_pPanel->DeferPortList();
    m_pPanel->DeferRows();
    m_pPanel->Create();
    // 5. Made and shown once the main window has drawn itself: the window the operator works
    //    in comes first, the splash a moment later above it (unless its time is up already).
    RunAfterFirstFrame(this, [this] {
        if (m_pSplash == nullptr && m_timers.IsRunning(TIMER_SPLASH)) {
            m_pSplash = std::make_unique<CAboutDlg>(this);
            m_pSplash->show();
        }
    });
    // 6.
    m_timers.Set(TIMER_SPLASH, kSplashMilliseconds);
    // 7.
    m_pPanel->show();
    // 8. To the screen origin, smaller than the template: the right and bottom of the panel
    //    stay cut off until window mode enlarges the window. Applied again once the window
    //    manager has framed the window, so that the frame counts in the outer size.
    m_templateClient = size();
    SetOuterGeometryWhenFramed(this, QPoint(0, 0),
                     QSize(m_templateClient.width() - kOpenShrinkWidth, m_templateClient.height() - kOpenShrinkHeight));
    // 9.
    setWindowTitle(windowTitle() + QStringLiteral(" ") + QString::fromLatin1(kBuildDate) +
                   QString::fromLatin1(kVersionSuffix));
    return true;
}

void CMainDlg::FillSystemMenu(QMenu* menu) {
    if (m_strAboutMenu.isEmpty()) {
        return;
    }
    menu->addSeparator();
    QAction* about = menu->addAction(m_strAboutMenu);
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    FillSystemMenu(&menu);
    if (!menu.isEmpty()) {
        menu.exec(event->globalPos());
    }
}

void CMainDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
    }
}

void CMainDlg::OnTimer(int id) {
    if (id == TIMER_SPLASH) {
        m_pSplash.reset();
        m_timers.Kill(TIMER_SPLASH);
    }
}

void CMainDlg::timerEvent(QTimerEvent* event) {
    const int id = m_timers.Id(event->timerId());
    if (id != 0) {
        OnTimer(id);
        return;
    }
    QDialog::timerEvent(event);
}
