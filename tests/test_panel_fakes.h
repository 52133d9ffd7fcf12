#pragma once
// Test doubles of the panel's platform seams (panel/platform.h): message boxes, the open-file
// dialog, the tool launcher and the clock. Header-only; shared by the panel and shell suites.

#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform.h"

// Records every message box instead of showing it; onShow runs inside Show, while the caller
// waits for the box, as a real modal box would let events run.
class RecordingMessageBox final : public IMessageBox {
public:
    struct Shown {
        QString text;
        QString caption;
        MessageIcon icon;
    };
    void Show(QWidget*, const QString& text, const QString& caption, MessageIcon icon) override {
        shown.push_back({text, caption, icon});
        if (onShow) {
            onShow();
        }
    }
    std::vector<Shown> shown;
    std::function<void()> onShow;
};

// Answers the open-file dialog from a queue (an empty answer is a cancel).
class ScriptedFileDialog final : public IFileDialog {
public:
    QString GetOpenFileName(QWidget*, const OpenFileRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) {
            return {};
        }
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<QString> answers;
    std::vector<OpenFileRequest> requests;
};

// A launched program that only records what happens to it.
struct FakeToolState {
    bool running = true;
    int terminated = 0;
    std::function<void()> onTerminate;  // runs inside Terminate, before the state changes
};

class FakeLaunchedTool final : public ILaunchedTool {
public:
    explicit FakeLaunchedTool(std::shared_ptr<FakeToolState> state) : state_(std::move(state)) {}
    ~FakeLaunchedTool() override { Terminate(); }
    bool IsRunning() const override { return state_->running; }
    void Terminate() override {
        if (!state_->running) {
            return;
        }
        if (state_->onTerminate) {
            state_->onTerminate();
        }
        state_->running = false;
        ++state_->terminated;
    }

private:
    std::shared_ptr<FakeToolState> state_;
};

class FakeToolLauncher final : public IToolLauncher {
public:
    std::unique_ptr<ILaunchedTool> Launch(const QString& program) override {
        launched.push_back(program);
        if (failNext) {
            failNext = false;
            return nullptr;
        }
        last = std::make_shared<FakeToolState>();
        return std::make_unique<FakeLaunchedTool>(last);
    }
    std::vector<QString> launched;
    bool failNext = false;
    std::shared_ptr<FakeToolState> last;  // state of the last successful launch
};

class FixedClock final : public IClock {
public:
    LocalTime Now() override { return now; }
    LocalTime now{2013, 2, 25, 9, 5, 7};
};

// A platform made of the doubles above; the serial factory is left for the test to set.
struct FakePlatform {
    std::shared_ptr<RecordingMessageBox> messageBox = std::make_shared<RecordingMessageBox>();
    std::shared_ptr<ScriptedFileDialog> fileDialog = std::make_shared<ScriptedFileDialog>();
    std::shared_ptr<FakeToolLauncher> toolLauncher = std::make_shared<FakeToolLauncher>();
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>();

    PanelPlatform Make(SerialPortFactory serialPorts = {}) const {
        PanelPlatform p;
        p.messageBox = messageBox;
        p.fileDialog = fileDialog;
        p.toolLauncher = toolLauncher;
        p.clock = clock;
        p.serialPorts = std::move(serialPorts);
        return p;
    }
};
