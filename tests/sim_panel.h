#pragma once
// A panel on the real serial port whose port list holds just the given device paths (the
// simulators a test started), for the end-to-end suites.

#include <QString>

#include <memory>
#include <vector>

#include "control_panel.h"
#include "port_list.h"
#include "test_panel_fakes.h"

inline std::unique_ptr<CControlPanelDlg> MakeSimPanel(QWidget* host, FakePlatform& fakes,
                                                      const std::vector<QString>& paths) {
    PanelPlatform platform = fakes.Make();
    platform.listPorts = [paths] {
        std::vector<PortEntry> entries;
        for (const QString& path : paths) {
            AddPortPath(path);
            const int n = PortNumberForPath(path);
            entries.push_back({n, path, QString(), QStringLiteral("COM%1 %2").arg(n).arg(path)});
        }
        return entries;
    };
    platform.isApplicationActive = [] { return true; };
    auto panel = std::make_unique<CControlPanelDlg>(host, platform);
    panel->Create();
    return panel;
}
