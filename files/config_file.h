#pragma once
// The module configuration file: a text file of lines, each a keyword and its values.
//
//   model <word>            S/N <word>              ID <int>          channel <int>
//   pwm_offset <int>        use_pwm <0|1>           use_packet <0|1>  use_debug <0|1>
//   dac_bandwidth <row 0..15> <low> <high>          (16 lines)
//
// Reading accepts the lines in any order and any number of times (the last one wins); saving
// writes those 24 lines in the order above. Text in the file is 8-bit (ASCII, Korean in code
// page 949) and goes through DecodeDeviceText/EncodeDeviceText, so its bytes round-trip.
// Numbers are read and written in the C locale whatever the process's locale.
//
// Pure functions and plain file access; any thread, but the panel calls them on its own.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "module_config.h"

// Messages the panel shows for these actions.
inline constexpr char kFileOpenErrorMessage[] = "File Open Error";
inline constexpr char kSaveFileMessage[] = "Save file";

constexpr int kConfigLineCount = 128;  // pieces read from one file at most
constexpr int kConfigPieceSize = 128;  // a piece holds at most 127 characters
constexpr int kConfigKeywordSize = 32;
constexpr int kConfigTextSize = 35;

// One parsed line. Words longer than keyword (31) or text (34) characters are cut to fit.
struct ConfigLine {
    std::int32_t kind = 0;         // 0 text value, 1 integer value, 2 table row (known keywords)
    std::uint8_t recognised = 0;   // 1 when the keyword is one of the nine
    char keyword[kConfigKeywordSize] = {};  // first word, always terminated
    char text[kConfigTextSize] = {};        // second word, always terminated
    float numbers[4] = {};         // second to fifth words read as floating-point numbers
    std::int32_t integers[4] = {}; // second to fifth words read as decimal integers
};

using ConfigLines = std::array<ConfigLine, kConfigLineCount>;

// Parses line into lines[index] and applies a known keyword to config. The line is scanned
// three times from its start: two words; a word and up to four floats; a word and up to four
// integers. Each scan stops at the first word that does not fit and leaves what it did not
// reach unchanged; a number is read from the start of its word as the C library would
// ("1.5" gives the integer 1). Bytes after a NUL are not part of the line.
// Effects: "model"/"S/N" set the text, "ID"/"channel"/"pwm_offset" the integer,
// "use_pwm"/"use_packet"/"use_debug" the check state (any value other than 0 checks the box),
// "dac_bandwidth n low high" row n when 0 <= n <= 15 (any other row changes nothing but the
// line still counts as known).
// Returns index, or -1 when the keyword is not one of the nine or index is outside 0..127
// (then nothing is written).
int ParseConfigLine(QByteArrayView line, int index, ConfigLines& lines, ModuleConfig& config);

// A line the reader did not know: its index and the piece as read, line feed included.
struct UnknownConfigLine {
    int index = 0;
    QByteArray piece;
};

// "Unknown string(%d):%s" for the line, its bytes decoded for the window.
QString UnknownLineMessage(const UnknownConfigLine& line);

// Called for each unknown line as the reader meets it: config then holds what the lines
// before it set, and the lines after it are not applied yet.
using UnknownLineHandler = std::function<void(const UnknownConfigLine&)>;

// Reads the content of a configuration file into config. A "\r\n" counts as "\n", as text
// mode does. The content is cut into pieces at each line feed and after 127 characters (a
// longer line gives several pieces); pieces 0..127 are parsed, the rest ignored. lines is
// zeroed first. Returns the unknown lines in file order (empty lines and comments included),
// each also given to onUnknown, when set, during the read.
std::vector<UnknownConfigLine> ReadConfigText(QByteArrayView content, ModuleConfig& config,
                                              ConfigLines& lines, const UnknownLineHandler& onUnknown = {});

struct ConfigReadResult {
    bool opened = false;  // false: the file could not be read; config and lines unchanged
    std::vector<UnknownConfigLine> unknown;
};

// Opens path for reading and reads it as ReadConfigText does.
ConfigReadResult ReadConfigFile(const QString& path, ModuleConfig& config, ConfigLines& lines,
                                const UnknownLineHandler& onUnknown = {});

// The 24 lines of a saved file, numbers in the C locale, floats with six decimals.
QByteArray FormatConfigFile(const ModuleConfig& config);

enum class ConfigSaveResult {
    Saved,
    OpenError,   // path names no existing file that may be read and written; nothing changed
    WriteError,  // the new content could not be written or put in place; the file is as it was
};

// Whether path names an existing file that opens for reading and writing. Saving never
// creates a configuration file; the panel checks this before it reads back its fields.
bool ConfigFileOpensForSave(const QString& path);

// Replaces the content of the existing file at path (through symbolic links) with
// FormatConfigFile(config); the file ends where the new content ends and is flushed to disk.
// Where a new file beside it can stand in for it unnoticed (one name only, a folder that takes
// a new file, owner, group and mode that can be given to the new file) the content is written
// there and put in place only when complete, so a failed save leaves the old content.
// Otherwise (a hard link, a folder the user may not write, a file of another owner or group)
// the file is written in place, keeping its links, owner and group; a failure midway may then
// leave it cut.
ConfigSaveResult WriteConfigFile(const QString& path, const ModuleConfig& config);
