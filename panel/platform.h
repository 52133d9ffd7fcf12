#pragma once
// The panel's platform effects, each behind one small interface so that tests can replace it:
// message boxes, the open-file dialog, the launcher of the firmware tool and the clock.
// (The pause has its own seam in link/pause.h, the serial port in link/serial_port.h.)
//
// All of these are called on the window thread only.

#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "port_list.h"
#include "serial_port.h"

class QWidget;

enum class MessageIcon { None, Information, Warning, Error };

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows a modal message box with an OK button and returns when it is closed.
    // An empty caption means the application's own name.
    virtual void Show(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) = 0;
};

struct OpenFileRequest {
    QString filter;         // Qt name filters separated by ";;", e.g. "INI file (*.ini);;All files (*.*)"
    QString defaultSuffix;  // appended to a typed name without one, e.g. "ini"
    QString initialName;    // shown in the file name field
};

class IFileDialog {
public:
    virtual ~IFileDialog() = default;
    // Runs the open-file dialog; the chosen file's full path, or an empty string on cancel.
    virtual QString GetOpenFileName(QWidget* parent, const OpenFileRequest& request) = 0;
};

// A program started by IToolLauncher.
class ILaunchedTool {
public:
    // Destroying the record ends a program that still runs, as Terminate does.
    virtual ~ILaunchedTool() = default;
    virtual bool IsRunning() const = 0;
    // Ends the program when it still runs (a program that has ended is not affected) and
    // returns once it is gone.
    virtual void Terminate() = 0;
};

class IToolLauncher {
public:
    virtual ~IToolLauncher() = default;
    // Starts the program without arguments; null when it could not be started.
    virtual std::unique_ptr<ILaunchedTool> Launch(const QString& program) = 0;
};

struct LocalTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual LocalTime Now() = 0;
};

// The serial ports the port drop-down lists and "Search" walks, in enumeration order.
using PortLister = std::function<std::vector<PortEntry>()>;

// What the panel uses of the platform. Real() gives the real implementations; a test replaces
// the members it needs. An empty serialPorts factory makes real CPortwire objects; an empty
// listPorts lists the system's ports (ListPorts); an empty isApplicationActive asks Qt whether
// one of the application's windows is the active one.
struct PanelPlatform {
    std::shared_ptr<IMessageBox> messageBox;
    std::shared_ptr<IFileDialog> fileDialog;
    std::shared_ptr<IToolLauncher> toolLauncher;
    std::shared_ptr<IClock> clock;
    SerialPortFactory serialPorts;
    PortLister listPorts;
    std::function<bool()> isApplicationActive;

    std::vector<PortEntry> Ports() const { return listPorts ? listPorts() : ListPorts(); }
    bool ApplicationActive() const;

    static PanelPlatform Real();
};
