#include "platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>

namespace {

// How long ending the firmware tool may hold up the panel's destruction: a polite request,
// then a kill. At most their sum.
constexpr int kTerminateWaitMs = 1000;
constexpr int kKillWaitMs = 1000;

class QtMessageBox final : public IMessageBox {
public:
    void Show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) override {
        QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
        switch (icon) {
        case MessageIcon::None: qtIcon = QMessageBox::NoIcon; break;
        case MessageIcon::Information: qtIcon = QMessageBox::Information; break;
        case MessageIcon::Warning: qtIcon = QMessageBox::Warning; break;
        case MessageIcon::Error: qtIcon = QMessageBox::Critical; break;
        }
        // The application's name: the program sets no display name, which the X11 platform
        // would append to every window title.
        const QString title = caption.isEmpty() ? QCoreApplication::applicationName() : caption;
        QMessageBox box(qtIcon, title, text, QMessageBox::Ok, parent);
        box.exec();
    }
};

class QtFileDialog final : public IFileDialog {
public:
    QString GetOpenFileName(QWidget* parent, const OpenFileRequest& request) override {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // A typed name that does not exist is returned too: the caller's open then fails
        // and says so.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(request.filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts));
        dialog.setDefaultSuffix(request.defaultSuffix);
        dialog.selectFile(request.initialName);
        if (dialog.exec() != QDialog::Accepted) {
            return {};
        }
        return dialog.selectedFiles().value(0);
    }
};

class LaunchedProcess final : public ILaunchedTool {
public:
    explicit LaunchedProcess(std::unique_ptr<QProcess> process) : process_(std::move(process)) {}
    ~LaunchedProcess() override { Terminate(); }

    bool IsRunning() const override { return process_->state() != QProcess::NotRunning; }

    void Terminate() override {
        if (!IsRunning()) {
            return;
        }
        // Ask first; a tool that ignores the request is killed.
        process_->terminate();
        if (!process_->waitForFinished(kTerminateWaitMs)) {
            process_->kill();
            process_->waitForFinished(kKillWaitMs);
        }
    }

private:
    std::unique_ptr<QProcess> process_;
};

class ProcessLauncher final : public IToolLauncher {
public:
    std::unique_ptr<ILaunchedTool> Launch(const QString& program) override {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, QStringList());
        if (!process->waitForStarted(5000)) {
            return nullptr;
        }
        return std::make_unique<LaunchedProcess>(std::move(process));
    }
};

class SystemClock final : public IClock {
public:
    LocalTime Now() override {
        const QDateTime now = QDateTime::currentDateTime();
        const QDate d = now.date();
        const QTime t = now.time();
        return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    }
};

}  // namespace

PanelPlatform PanelPlatform::Real() {
    PanelPlatform p;
    p.messageBox = std::make_shared<QtMessageBox>();
    p.fileDialog = std::make_shared<QtFileDialog>();
    p.toolLauncher = std::make_shared<ProcessLauncher>();
    p.clock = std::make_shared<SystemClock>();
    return p;
}

bool PanelPlatform::ApplicationActive() const {
    if (isApplicationActive) {
        return isApplicationActive();
    }
    return QApplication::activeWindow() != nullptr;
}
