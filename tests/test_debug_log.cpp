// The debug log file: its name and its content.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <vector>

#include "debug_log.h"
#include "file_size_limit.h"

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList EntriesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

const LogTime kTime{2013, 3, 5, 7, 8, 9};
const char kName[] = "2013-3-5-07-08-09.txt";

struct NameCase {
    LogTime time;
    const char* name;
};

class DebugLogName : public ::testing::TestWithParam<NameCase> {};

TEST_P(DebugLogName, DateWithoutAndTimeWithLeadingZeros) {
    EXPECT_EQ(DebugLogFileName(GetParam().time), QString::fromLatin1(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(Times, DebugLogName,
                         ::testing::Values(NameCase{kTime, kName},
                                           NameCase{{2013, 2, 25, 9, 5, 7}, "2013-2-25-09-05-07.txt"},
                                           NameCase{{2024, 12, 31, 23, 59, 59}, "2024-12-31-23-59-59.txt"},
                                           NameCase{{2000, 1, 1, 0, 0, 0}, "2000-1-1-00-00-00.txt"}));

struct ContentCase {
    std::vector<QByteArray> lines;
    QByteArray file;
};

class DebugLogContent : public ::testing::TestWithParam<ContentCase> {};

TEST_P(DebugLogContent, EachLineAsGivenThenALineFeed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(WriteDebugLog(GetParam().lines, kTime, dir.path()));
    EXPECT_EQ(ReadBytes(dir.filePath(kName)), GetParam().file);
    EXPECT_EQ(EntriesIn(dir.path()), QStringList{kName});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DebugLogContent,
    ::testing::Values(ContentCase{{}, ""},
                      ContentCase{{"first", "second", "third"}, "first\nsecond\nthird\n"},
                      ContentCase{{"", "Open complete"}, "\nOpen complete\n"},
                      // A sent command keeps its carriage return; bytes above 0x7F are kept,
                      // valid code page 949 or not.
                      ContentCase{{"-> getsn\r", "S/N:\xB8\xF0\xB5\xA8 \x80\xFF"},
                                  "-> getsn\r\nS/N:\xB8\xF0\xB5\xA8 \x80\xFF\n"}));

TEST(DebugLog, ReplacesAFileOfTheSameName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(WriteDebugLog({"a", "b", "c"}, kTime, dir.path()));
    ASSERT_TRUE(WriteDebugLog({"logfile create"}, kTime, dir.path()));
    EXPECT_EQ(ReadBytes(dir.filePath(kName)), "logfile create\n");
}

TEST(DebugLog, GoesIntoTheCurrentDirectoryByDefault) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const bool written = WriteDebugLog({"x"}, kTime);
    QDir::setCurrent(previous);
    EXPECT_TRUE(written);
    EXPECT_EQ(ReadBytes(dir.filePath(kName)), "x\n");
}

TEST(DebugLog, FailsWhenTheFileCannotBeCreated) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_FALSE(WriteDebugLog({"x"}, kTime, dir.filePath("absent")));
    // A folder that holds the name.
    ASSERT_TRUE(QDir(dir.path()).mkdir(kName));
    EXPECT_FALSE(WriteDebugLog({"x"}, kTime, dir.path()));
    EXPECT_EQ(EntriesIn(dir.path()), QStringList{kName});
    EXPECT_TRUE(QFileInfo(dir.filePath(kName)).isDir());
}

TEST(DebugLog, FailingMidwayLeavesNoPartialFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(WriteDebugLog({"earlier"}, kTime, dir.path()));
    const std::vector<QByteArray> lines(100, QByteArray("-> getbandwidthex 255\r"));
    bool limited = false;
    bool written = true;
    {
        const FileSizeLimit limit(64);
        limited = limit.Active();
        written = WriteDebugLog(lines, kTime, dir.path());
    }
    ASSERT_TRUE(limited);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(dir.filePath(kName)), "earlier\n");
    EXPECT_EQ(EntriesIn(dir.path()), QStringList{kName});
}

}  // namespace
