#pragma once
// The debug log file: a snapshot of the panel's message list in a text file named after the
// moment of writing, "2013-3-5-07-08-09.txt" for 5 March 2013, 07:08:09.
//
// Any thread; the panel calls it on its own.

#include <QByteArray>
#include <QString>

#include <vector>

inline constexpr char kFileCreateErrorMessage[] = "File Create Error";
inline constexpr char kLogFileCreatedMessage[] = "logfile create";

// A local date and time of day.
struct LogTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;
    int second = 0;
};

// "%d-%d-%d-%02d-%02d-%02d.txt": date without leading zeros, time with two digits each.
QString DebugLogFileName(const LogTime& time);

// Writes lines (oldest first) into DebugLogFileName(time) inside directory (empty: the
// current directory), each line's bytes as given followed by a line feed in the platform's
// text mode. A file of that name is replaced. The content goes to a temporary file beside it
// first, so a failure leaves no partial file and an earlier file of that name unchanged.
// Returns true when the file is complete; false when it could not be created or written.
bool WriteDebugLog(const std::vector<QByteArray>& lines, const LogTime& time,
                   const QString& directory = QString());
