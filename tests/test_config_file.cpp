// The module configuration file: parsing one line, reading a file in pieces, saving.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>

#include "config_file.h"
#include "decimal_comma_locale.h"
#include "device_text.h"
#include "file_size_limit.h"

namespace {

// The file that the panel's initial values save to.
QByteArray InitialFile() {
    QByteArray text = "model Model Name\nS/N \nID 0\nchannel 8\npwm_offset 17\nuse_pwm 0\nuse_packet 0\nuse_debug 0\n";
    for (int i = 0; i < 16; ++i) {
        text += "dac_bandwidth " + QByteArray::number(i) + " 0.000000 1.200000\n";
    }
    return text;
}

// "모델" in code page 949, then a byte that is no valid character there.
const QByteArray kKoreanBytes = "\xB8\xF0\xB5\xA8\xFF";

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList FilesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

struct ParseCase {
    const char* line;
    bool known;
    std::function<void(ModuleConfig&)> expect;  // what the line changes in a default record
};

const float kInf = std::numeric_limits<float>::infinity();

const ParseCase kParseCases[] = {
    {"ID 5\n", true, [](ModuleConfig& c) { c.id = 5; }},
    {"ID -7", true, [](ModuleConfig& c) { c.id = -7; }},
    {"ID 5x", true, [](ModuleConfig& c) { c.id = 5; }},  // the number is read from the word's start
    {"ID x5", true, [](ModuleConfig& c) { c.id = 0; }},  // not reached: the zeroed field
    {"ID 99999999999", true, [](ModuleConfig& c) { c.id = std::numeric_limits<std::int32_t>::max(); }},
    {"ID -99999999999", true, [](ModuleConfig& c) { c.id = std::numeric_limits<std::int32_t>::min(); }},
    {"channel 20\r\n", true, [](ModuleConfig& c) { c.channels = 20; }},
    {"  pwm_offset\t-3 ", true, [](ModuleConfig& c) { c.offset = -3; }},
    {"model Model Name\n", true, [](ModuleConfig& c) { c.model = "Model"; }},
    {"S/N \n", true, [](ModuleConfig& c) { c.serial = ""; }},
    {"S/N\tAB-12\r\n", true, [](ModuleConfig& c) { c.serial = "AB-12"; }},
    {"use_pwm 1", true, [](ModuleConfig& c) { c.usePwm = 1; }},
    {"use_packet 7", true, [](ModuleConfig& c) { c.usePacket = 1; }},
    {"use_debug -1", true, [](ModuleConfig& c) { c.useDebug = 1; }},
    {"dac_bandwidth 3 0.5 1.5\n", true, [](ModuleConfig& c) { c.bandwidthLow[3] = 0.5f; c.bandwidthHigh[3] = 1.5f; }},
    {"dac_bandwidth 0 -0.25 +2", true, [](ModuleConfig& c) { c.bandwidthLow[0] = -0.25f; c.bandwidthHigh[0] = 2.0f; }},
    {"dac_bandwidth 15 0x1p-2 1e1", true, [](ModuleConfig& c) { c.bandwidthLow[15] = 0.25f; c.bandwidthHigh[15] = 10.0f; }},
    {"dac_bandwidth 2 1e40 -1e-50", true, [](ModuleConfig& c) { c.bandwidthLow[2] = kInf; c.bandwidthHigh[2] = -0.0f; }},
    {"dac_bandwidth 2 1e400 -1e400", true, [](ModuleConfig& c) { c.bandwidthLow[2] = kInf; c.bandwidthHigh[2] = -kInf; }},
    {"dac_bandwidth 2 0.1e-400 1000e-40", true, [](ModuleConfig& c) { c.bandwidthLow[2] = 0.0f; c.bandwidthHigh[2] = 1e-37f; }},
    // A decimal comma is no part of a number: 0 is read, the scan stops at ",5".
    {"dac_bandwidth 4 0,5 1,5", true, [](ModuleConfig& c) { c.bandwidthLow[4] = 0.0f; c.bandwidthHigh[4] = 0.0f; }},
    {"dac_bandwidth 16 0.5 1.5", true, [](ModuleConfig&) {}},
    {"dac_bandwidth -1 0.5 1.5", true, [](ModuleConfig&) {}},
    {"dac_bandwidth", true, [](ModuleConfig& c) { c.bandwidthLow[0] = 0.0f; c.bandwidthHigh[0] = 0.0f; }},
    {"id 5", false, [](ModuleConfig&) {}},
    {"IDX 5", false, [](ModuleConfig&) {}},
    {"# comment\n", false, [](ModuleConfig&) {}},
    {"\n", false, [](ModuleConfig&) {}},
    {"", false, [](ModuleConfig&) {}},
};

class ParseConfigLineTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseConfigLineTable, ChangesOnlyWhatTheLineNames) {
    const ParseCase& c = GetParam();
    ConfigLines lines{};
    ModuleConfig config;
    ModuleConfig expected = config;
    c.expect(expected);

    EXPECT_EQ(ParseConfigLine(c.line, 9, lines, config), c.known ? 9 : -1);
    EXPECT_EQ(config, expected);
    EXPECT_EQ(lines[9].recognised, c.known ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, ParseConfigLineTable, ::testing::ValuesIn(kParseCases));

TEST(ParseConfigLine, ThreeIndependentScansFillTheRecord) {
    ConfigLines lines{};
    ModuleConfig config;
    ASSERT_EQ(ParseConfigLine("dac_bandwidth 3 0.5 1.5 2.5 9\n", 0, lines, config), 0);
    const ConfigLine& r = lines[0];
    EXPECT_EQ(r.kind, 2);
    EXPECT_STREQ(r.keyword, "dac_bandwidth");
    EXPECT_STREQ(r.text, "3");
    EXPECT_EQ(r.numbers[0], 3.0f);
    EXPECT_EQ(r.numbers[1], 0.5f);
    EXPECT_EQ(r.numbers[2], 1.5f);
    EXPECT_EQ(r.numbers[3], 2.5f);
    // The integer scan reads 3, then 0 from "0.5", and stops at ".5".
    EXPECT_EQ(r.integers[0], 3);
    EXPECT_EQ(r.integers[1], 0);
    EXPECT_EQ(r.integers[2], 0);

    ASSERT_EQ(ParseConfigLine("model Model Name", 1, lines, config), 1);
    EXPECT_EQ(lines[1].kind, 0);
    EXPECT_STREQ(lines[1].text, "Model");
    EXPECT_EQ(lines[1].numbers[0], 0.0f);
    ASSERT_EQ(ParseConfigLine("ID 12", 2, lines, config), 2);
    EXPECT_EQ(lines[2].kind, 1);
    EXPECT_EQ(lines[2].integers[0], 12);
}

TEST(ParseConfigLine, CutsLongWordsToTheirFields) {
    // A word written past its field would land in the field after it: text after keyword,
    // numbers after text.
    ConfigLines lines{};
    ModuleConfig config;
    const std::string longKeyword(40, 'k');
    EXPECT_EQ(ParseConfigLine(QByteArray::fromStdString(longKeyword + " 1"), 0, lines, config), -1);
    EXPECT_EQ(std::string(lines[0].keyword), std::string(31, 'k'));
    const char textAfter[kConfigTextSize] = {'1'};
    EXPECT_EQ(std::memcmp(lines[0].text, textAfter, sizeof textAfter), 0);
    EXPECT_EQ(lines[0].integers[0], 1);  // the rest of the long word is consumed, not re-read

    const std::string longText(50, 't');
    EXPECT_EQ(ParseConfigLine(QByteArray::fromStdString("model " + longText + " x"), 1, lines, config), 1);
    EXPECT_EQ(config.model, QString::fromStdString(std::string(34, 't')));
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(lines[1].numbers[k], 0.0f);
        EXPECT_EQ(lines[1].integers[k], 0);
    }
}

TEST(ParseConfigLine, RefusesAnIndexOutsideTheRecords) {
    ConfigLines lines{};
    ModuleConfig config;
    EXPECT_EQ(ParseConfigLine("ID 5", kConfigLineCount, lines, config), -1);
    EXPECT_EQ(ParseConfigLine("ID 5", -1, lines, config), -1);
    EXPECT_EQ(config.id, 0);
}

TEST(ParseConfigLine, TextKeepsItsBytes) {
    ConfigLines lines{};
    ModuleConfig config;
    ASSERT_EQ(ParseConfigLine("S/N " + kKoreanBytes + "\n", 0, lines, config), 0);
    EXPECT_EQ(EncodeDeviceText(config.serial), kKoreanBytes);
}

TEST(ReadConfigText, FileWithOnlyAnIdChangesOnlyTheId) {
    ConfigLines lines{};
    ModuleConfig config;
    config.model = "LX-16";
    config.bandwidthLow[4] = 0.25f;
    ModuleConfig expected = config;
    expected.id = 5;
    EXPECT_TRUE(ReadConfigText("ID 5\n", config, lines).empty());
    EXPECT_EQ(config, expected);
}

TEST(ReadConfigText, ReportsUnknownPiecesAndAppliesTheRest) {
    ConfigLines lines{};
    lines[3].recognised = 1;  // a parse of an earlier file
    ModuleConfig config;
    const std::vector<UnknownConfigLine> unknown =
        ReadConfigText("# comment\nID 5\n\nchannel 12\r\nbogus 1\r\nuse_pwm 1", config, lines);
    ASSERT_EQ(unknown.size(), 3u);
    EXPECT_EQ(unknown[0].index, 0);
    EXPECT_EQ(unknown[0].piece, "# comment\n");
    EXPECT_EQ(UnknownLineMessage(unknown[0]), QStringLiteral("Unknown string(0):# comment\n"));
    EXPECT_EQ(unknown[1].index, 2);
    EXPECT_EQ(unknown[1].piece, "\n");
    EXPECT_EQ(unknown[2].index, 4);
    EXPECT_EQ(unknown[2].piece, "bogus 1\n");  // "\r\n" read as in text mode
    EXPECT_EQ(config.id, 5);
    EXPECT_EQ(config.channels, 12);
    EXPECT_EQ(config.usePwm, 1);
    EXPECT_EQ(lines[3].recognised, 1);
    EXPECT_EQ(lines[6].recognised, 0);
    EXPECT_STREQ(lines[6].keyword, "");
}

TEST(ReadConfigText, UnknownMessageShowsTheBytesDecoded) {
    ConfigLines lines{};
    ModuleConfig config;
    const std::vector<UnknownConfigLine> unknown = ReadConfigText(kKoreanBytes + " 1\n", config, lines);
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(UnknownLineMessage(unknown[0]),
              QStringLiteral("Unknown string(0):") + DecodeDeviceText(kKoreanBytes + " 1\n"));
}

TEST(ReadConfigText, TakesOnly128Pieces) {
    QByteArray text;
    for (int i = 0; i < 200; ++i) {
        text += "ID " + QByteArray::number(i) + "\n";
    }
    ConfigLines lines{};
    ModuleConfig config;
    EXPECT_TRUE(ReadConfigText(text + "junk\n", config, lines).empty());
    EXPECT_EQ(config.id, 127);
    EXPECT_EQ(lines[127].integers[0], 127);
}

struct PieceCase {
    int lineLength;     // characters before the line feed
    int unknownPieces;  // pieces of the line beyond the first
};

class LongLines : public ::testing::TestWithParam<PieceCase> {};

TEST_P(LongLines, SplitAfter127Characters) {
    const PieceCase& c = GetParam();
    const QByteArray line = "model " + QByteArray(c.lineLength - 6, 'A') + "\n";
    ConfigLines lines{};
    ModuleConfig config;
    const std::vector<UnknownConfigLine> unknown = ReadConfigText(line + "ID 7\n", config, lines);
    ASSERT_EQ(static_cast<int>(unknown.size()), c.unknownPieces);
    qsizetype taken = 127;
    for (int i = 0; i < c.unknownPieces; ++i) {
        EXPECT_EQ(unknown[static_cast<std::size_t>(i)].index, i + 1);
        EXPECT_EQ(unknown[static_cast<std::size_t>(i)].piece, line.mid(taken, 127));
        taken += 127;
    }
    EXPECT_EQ(config.model, QString(34, 'A'));
    EXPECT_EQ(config.id, 7);
    EXPECT_EQ(lines[static_cast<std::size_t>(c.unknownPieces) + 1].integers[0], 7);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongLines,
                         ::testing::Values(PieceCase{126, 0}, PieceCase{127, 1}, PieceCase{200, 1},
                                           PieceCase{254, 2}, PieceCase{300, 2}));

TEST(ReadConfigFile, MissingOrUnreadableFileChangesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ConfigLines lines{};
    lines[0].recognised = 1;
    ModuleConfig config;
    config.id = 44;
    for (const QString& path : {dir.filePath("absent.ini"), dir.path(), QString()}) {
        const ConfigReadResult r = ReadConfigFile(path, config, lines);
        EXPECT_FALSE(r.opened) << path.toStdString();
        EXPECT_EQ(config.id, 44);
        EXPECT_EQ(lines[0].recognised, 1);
    }
}

TEST(ConfigFile, SavedInitialValuesLoadBackWithTheModelCut) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("module.ini");
    ASSERT_TRUE(WriteBytes(path, ""));

    EXPECT_EQ(WriteConfigFile(path, ModuleConfig{}), ConfigSaveResult::Saved);
    EXPECT_EQ(ReadBytes(path), InitialFile());

    ModuleConfig loaded;
    loaded.id = 3;
    loaded.serial = "old";
    loaded.bandwidthHigh[9] = 7.0f;
    ConfigLines lines{};
    const ConfigReadResult r = ReadConfigFile(path, loaded, lines);
    EXPECT_TRUE(r.opened);
    EXPECT_TRUE(r.unknown.empty());
    ModuleConfig expected;
    expected.model = "Model";
    EXPECT_EQ(loaded, expected);
}

TEST(ConfigFile, EveryFieldRoundTrips) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("module.ini");
    ASSERT_TRUE(WriteBytes(path, "x"));

    ModuleConfig saved;
    saved.model = DecodeDeviceText(kKoreanBytes);
    saved.serial = "SN-0042";
    saved.id = -56;
    saved.channels = 16;
    saved.offset = 4464;
    saved.usePwm = 1;
    saved.useDebug = 1;
    for (int i = 0; i < 16; ++i) {
        saved.bandwidthLow[static_cast<std::size_t>(i)] = 0.125f * static_cast<float>(i);
        saved.bandwidthHigh[static_cast<std::size_t>(i)] = 100.5f - static_cast<float>(i);
    }
    ASSERT_EQ(WriteConfigFile(path, saved), ConfigSaveResult::Saved);
    EXPECT_TRUE(ReadBytes(path).startsWith("model " + kKoreanBytes + "\nS/N SN-0042\nID -56\n"));

    ModuleConfig loaded;
    ConfigLines lines{};
    EXPECT_TRUE(ReadConfigFile(path, loaded, lines).unknown.empty());
    EXPECT_EQ(loaded, saved);
}

TEST(ConfigFile, NumbersIgnoreADecimalCommaLocale) {
    const DecimalCommaLocale comma;
    if (!comma.Active()) {
        GTEST_SKIP() << "localedef could not build a decimal-comma locale";
    }
    ModuleConfig config;
    config.bandwidthLow[0] = 0.5f;
    EXPECT_TRUE(FormatConfigFile(config).contains("\ndac_bandwidth 0 0.500000 1.200000\n"));
    ConfigLines lines{};
    ReadConfigText("dac_bandwidth 1 0.25 0.75\n", config, lines);
    EXPECT_EQ(config.bandwidthLow[1], 0.25f);
    EXPECT_EQ(config.bandwidthHigh[1], 0.75f);
}

TEST(WriteConfigFile, CutsALongerOldFileAndKeepsItsPermissions) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("module.ini");
    ASSERT_TRUE(WriteBytes(path, QByteArray(5000, '#')));
    namespace fs = std::filesystem;
    const fs::perms perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(path.toStdString(), perms);

    ASSERT_EQ(WriteConfigFile(path, ModuleConfig{}), ConfigSaveResult::Saved);
    EXPECT_EQ(ReadBytes(path), InitialFile());
    EXPECT_EQ(fs::status(path.toStdString()).permissions(), perms);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{"module.ini"});
}

TEST(WriteConfigFile, NeverCreatesAFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub.ini"));
    for (const QString& path : {dir.filePath("absent.ini"), dir.filePath("sub.ini"), QString()}) {
        EXPECT_FALSE(ConfigFileOpensForSave(path)) << path.toStdString();
        EXPECT_EQ(WriteConfigFile(path, ModuleConfig{}), ConfigSaveResult::OpenError) << path.toStdString();
    }
    EXPECT_EQ(FilesIn(dir.path()), QStringList{});
}

TEST(WriteConfigFile, FailingMidwayLeavesTheOldContent) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("module.ini");
    const QByteArray old = "ID 9\nchannel 4\n";
    ASSERT_TRUE(WriteBytes(path, old));
    bool limited = false;
    ConfigSaveResult result = ConfigSaveResult::Saved;
    {
        const FileSizeLimit limit(64);
        limited = limit.Active();
        result = WriteConfigFile(path, ModuleConfig{});
    }
    ASSERT_TRUE(limited);
    EXPECT_EQ(result, ConfigSaveResult::WriteError);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{"module.ini"});
}

// What a save must keep of the file: its other names (hard and symbolic links, saved through
// either), its owner and group, its extended attributes (where an access control list lives);
// and a file in a folder the user may not write into is saved.
TEST(WriteConfigFile, KeepsLinksOwnerGroupAndAttributesAndSavesInAReadOnlyFolder) {
    enum Case { HardLink, SymbolicLink, OtherOwner, ReadOnlyFolder, Attribute };
    for (const Case c : {HardLink, SymbolicLink, OtherOwner, ReadOnlyFolder, Attribute}) {
        QTemporaryDir dir;
        const QString folder = dir.filePath("configs");
        const QString path = folder + "/module.ini";
        const QString other = dir.filePath("other-name.ini");
        ASSERT_TRUE(QDir().mkpath(folder) && WriteBytes(path, QByteArray(3000, '#')));
        const QByteArray file = path.toLocal8Bit();
        if ((c == HardLink && ::link(file, other.toLocal8Bit()) != 0) || (c == SymbolicLink && ::symlink(file, other.toLocal8Bit()) != 0) ||
            (c == OtherOwner && ::chown(file, 4321, 4322) != 0)) {
            continue;  // only root gives a file away
        }
        if (c == ReadOnlyFolder && (!QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner) ||
                                    WriteBytes(folder + "/probe", ""))) {
            continue;  // this user writes into any folder
        }
        if (c == Attribute && ::setxattr(file, "user.lumitrax-test", "kept", 4, 0) != 0) {
            continue;  // a file system without user attributes
        }
        struct stat before {}, after {};
        ASSERT_EQ(::stat(file, &before), 0);
        EXPECT_EQ(WriteConfigFile(c == SymbolicLink ? other : path, ModuleConfig{}), ConfigSaveResult::Saved) << c;
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ASSERT_EQ(::stat(file, &after), 0);
        EXPECT_EQ(ReadBytes(path), InitialFile()) << c;
        EXPECT_TRUE(after.st_uid == before.st_uid && after.st_gid == before.st_gid && after.st_mode == before.st_mode) << c;
        EXPECT_EQ(FilesIn(folder), QStringList{"module.ini"}) << c;
        EXPECT_TRUE(c != Attribute || ::getxattr(file, "user.lumitrax-test", nullptr, 0) == 4) << std::strerror(errno);
        if (c == HardLink || c == SymbolicLink) {
            EXPECT_EQ(ReadBytes(other), InitialFile()) << c;
            EXPECT_EQ(QFileInfo(other).isSymLink(), c == SymbolicLink);
        }
    }
}

}  // namespace
