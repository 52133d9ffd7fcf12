#include "panel_app.h"

#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "artwork.h"
#include "main_dialog.h"

namespace {

int g_stopPipe[2] = {-1, -1};

void StopSignalHandler(int) {
    const char byte = 1;
    // Async-signal-safe: only a write; the window thread reads the pipe.
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
}

}  // namespace

void SetApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("Lumitrax"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.5"));
    QApplication::setWindowIcon(LoadIconResource(IDI_MAINFRAME));
    InstallCaptionFont();
}

CPanelApp::CPanelApp(int& argc, char** argv) : QApplication(argc, argv) {
    SetApplicationIdentity();
    InstallStopSignals();
}

CPanelApp::~CPanelApp() {
    if (g_stopPipe[0] >= 0) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        delete m_stopNotifier;
        ::close(g_stopPipe[0]);
        ::close(g_stopPipe[1]);
        g_stopPipe[0] = g_stopPipe[1] = -1;
    }
}

void CPanelApp::InstallStopSignals() {
    if (::pipe(g_stopPipe) != 0) {
        g_stopPipe[0] = g_stopPipe[1] = -1;
        return;
    }
    for (int fd : g_stopPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    m_stopNotifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, this);
    connect(m_stopNotifier, &QSocketNotifier::activated, this, &CPanelApp::OnStopSignal);
    struct sigaction action = {};
    action.sa_handler = StopSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void CPanelApp::OnStopSignal() {
    char buffer[16];
    while (::read(g_stopPipe[0], buffer, sizeof buffer) > 0) {
    }
    if (m_pMainWnd != nullptr) {
        EndModalWindows(m_pMainWnd);
    } else {
        quit();
    }
}

void EndModalWindows(QDialog* mainWnd) {
    // A message box or the About box open above the main window runs an event loop of its
    // own, which ending the main window alone would leave waiting for a click; close those
    // first, newest first. What the panel was doing when the box opened then finishes.
    for (int guard = 0; guard < 32; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == mainWnd) {
            break;
        }
        modal->close();
        if (QApplication::activeModalWidget() == modal) {
            modal->hide();  // a window that refused to close
        }
    }
    mainWnd->reject();
}

bool InstallEnglishCaptions(QCoreApplication& app, QTranslator& translator) {
    // Built in from resources/translations/lumitrax_en.ts.
    if (!translator.load(QStringLiteral(":/i18n/lumitrax_en.qm"))) {
        return false;
    }
    return app.installTranslator(&translator);
}

bool CPanelApp::SetLanguage(const QString& language) {
    if (language != QLatin1String("en")) {
        return true;
    }
    if (m_translator == nullptr) {
        m_translator = new QTranslator(this);
    }
    return InstallEnglishCaptions(*this, *m_translator);
}

bool CPanelApp::InitInstance() {
    CMainDlg dlg;
    m_pMainWnd = &dlg;
    dlg.exec();
    m_pMainWnd = nullptr;
    return false;
}
