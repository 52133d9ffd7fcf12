#pragma once
// A created panel with a port open on the fake line: eight channels (all four trigger rows),
// no answers unless the test sets line.responder, message boxes recorded, and `active` deciding
// whether the application has an active window. The open's own writes and pauses are cleared.

#include <QDialog>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "control_panel.h"
#include "fake_serial_port.h"
#include "test_panel_fakes.h"

class OpenPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        pauses.onPause = [this](int) { line.DeliverPending(); };
        PanelPlatform platform = fakes.Make(line.Factory());
        platform.listPorts = [] { return std::vector<PortEntry>{{1, "/dev/fake1", {}, "COM1 /dev/fake1"}}; };
        platform.isApplicationActive = [this] { return active; };
        panel = std::make_unique<CControlPanelDlg>(&host, platform);
        panel->Create();
        panel->OnOpenPort();
        ASSERT_EQ(panel->m_bPortOpen, 1);
        line.writes.clear();
        pauses.pauses.clear();
    }
    // A fresh panel, line and platform for the next case of a table.
    void Restart() {
        panel.reset();
        line = FakeLine{};
        fakes = FakePlatform{};
        active = true;
        SetUp();
    }
    QString TopMessage() const { return panel->MessageText(0); }
    // Each message box shown so far as "caption|text|icon".
    QStringList Boxes() const {
        QStringList boxes;
        for (const auto& b : fakes.messageBox->shown) {
            boxes << b.caption + '|' + b.text + (b.icon == MessageIcon::Error ? "|error" : "|none");
        }
        return boxes;
    }

    bool active = true;
    PauseRecorder pauses;
    FakeLine line;
    FakePlatform fakes;
    QDialog host;
    std::unique_ptr<CControlPanelDlg> panel;
};
