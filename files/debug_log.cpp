#include "debug_log.h"

#include <QDir>
#include <QSaveFile>

#include "c_format.h"

QString DebugLogFileName(const LogTime& time) {
    return QCFormat("%d-%d-%d-%02d-%02d-%02d.txt",
                    {time.year, time.month, time.day, time.hour, time.minute, time.second});
}

bool WriteDebugLog(const std::vector<QByteArray>& lines, const LogTime& time, const QString& directory) {
    const QString name = DebugLogFileName(time);
    // QSaveFile removes its temporary file when it is destroyed without a commit. commit()
    // ignores a failed flush of buffered data, so the flush is checked first.
    QSaveFile file(directory.isEmpty() ? name : QDir(directory).filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return false;
    }
    for (const QByteArray& line : lines) {
        if (file.write(line) != line.size() || !file.putChar('\n')) {
            return false;
        }
    }
    return file.flush() && file.commit();
}
