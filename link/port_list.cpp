#include "port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<QString> added;
    std::map<QString, int> numbers;
    int next = 1;

    int numberLocked(const QString& path) {
        auto it = numbers.find(path);
        if (it != numbers.end()) {
            return it->second;
        }
        const int n = next++;
        numbers.emplace(path, n);
        return n;
    }
};

Registry& registry() {
    static Registry r;
    return r;
}

QString entryText(int number, const QString& path, const QString& description) {
    QString text = QStringLiteral("COM%1 %2").arg(number).arg(path);
    if (!description.isEmpty()) {
        text += QStringLiteral(" (%1)").arg(description);
    }
    return text;
}

}  // namespace

void AddPortPath(const QString& devicePath) {
    if (devicePath.isEmpty()) {
        return;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const QString& p : r.added) {
        if (p == devicePath) {
            return;
        }
    }
    r.added.push_back(devicePath);
    r.numberLocked(devicePath);
}

void ClearAddedPortPaths() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.added.clear();
}

std::vector<PortEntry> ListPorts() {
    // Enumerate outside the lock: it touches the file system.
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();

    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<PortEntry> out;
    auto listed = [&out](const QString& path) {
        for (const PortEntry& e : out) {
            if (e.devicePath == path) {
                return true;
            }
        }
        return false;
    };
    for (const QString& path : r.added) {
        const int n = r.numberLocked(path);
        out.push_back({n, path, QString(), entryText(n, path, QString())});
    }
    for (const QSerialPortInfo& info : infos) {
        const QString path = info.systemLocation();
        if (path.isEmpty() || listed(path)) {
            continue;
        }
        const int n = r.numberLocked(path);
        out.push_back({n, path, info.description(), entryText(n, path, info.description())});
    }
    return out;
}

int PortNumberForPath(const QString& devicePath) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.numberLocked(devicePath);
}

QString ResolvePortName(const char* portName) {
    if (portName == nullptr) {
        return {};
    }
    const char* digits = portName;
    if (std::strncmp(digits, "COM", 3) == 0) {
        digits += 3;
    }
    if (*digits < '0' || *digits > '9') {
        return {};
    }
    char* end = nullptr;
    const long n = std::strtol(digits, &end, 10);
    if (n <= 0) {
        return {};
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& [path, number] : r.numbers) {
        if (number == n) {
            return path;
        }
    }
    return {};
}

bool IsNetworkPortName(const QString& name) {
    return name.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive) ||
           name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive);
}

bool ParseNetworkPortName(const QString& name, NetworkPortName& out) {
    if (!IsNetworkPortName(name)) {
        return false;
    }
    const bool rfc2217 = name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive);
    const QString rest = name.mid(rfc2217 ? 10 : 6);
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return false;
    }
    QString host = rest.left(colon);
    const QString portText = rest.mid(colon + 1);
    if (host.startsWith(QLatin1Char('['))) {
        if (!host.endsWith(QLatin1Char(']')) || host.size() < 3) {
            return false;
        }
        host = host.mid(1, host.size() - 2);
    } else if (host.contains(QLatin1Char(':')) || host.contains(QLatin1Char(']'))) {
        return false;  // an IPv6 address needs its brackets
    }
    for (const QChar c : host) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('@') || c == QLatin1Char('[')) {
            return false;
        }
    }
    if (portText.isEmpty() || portText.size() > 5) {
        return false;
    }
    for (const QChar c : portText) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    const int port = portText.toInt();
    if (port < 1 || port > 65535) {
        return false;
    }
    out.rfc2217 = rfc2217;
    out.host = host;
    out.port = static_cast<std::uint16_t>(port);
    return true;
}

QString PathRelativeToHere(const QString& name) {
#ifdef Q_OS_UNIX
    if (!IsNetworkPortName(name) && !QDir::isAbsolutePath(name) &&
        !QFileInfo::exists(QStringLiteral("/dev/") + name) && QFileInfo::exists(name)) {
        return QFileInfo(name).absoluteFilePath();
    }
#endif
    return name;
}
