// The shared text rules: locale-free printf formatting and the 8-bit device text round trip.
#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

#include "c_format.h"
#include "decimal_comma_locale.h"
#include "device_text.h"

namespace {

struct FormatCase {
    const char* format;
    std::vector<CArg> args;
    std::string expected;
};

std::string FormatCaseText(const FormatCase& c) {
    char buffer[256];
    int length = 0;
    if (!CFormatTo(buffer, sizeof buffer, length, c.format, c.args.data(), static_cast<int>(c.args.size()))) {
        return "<refused>";
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

TEST(CFormat, PrintsAsTheCLibraryDoesInTheCLocale) {
    const FormatCase cases[] = {
        {"code:%d,%xh", {7, 0xab}, "code:7,abh"},
        {"code:%d,%xh", {255, 255}, "code:255,ffh"},
        {"%08x", {0}, "00000000"},
        {"%08x", {-1}, "ffffffff"},
        {"%x", {-56}, "ffffffc8"},
        {"%d", {-56}, "-56"},
        {"%u", {-1}, "4294967295"},
        {"%8.3f", {12.5}, "  12.500"},
        {"%8.3f", {1234567.0}, "1234567.000"},
        {"%8.3f", {-0.5}, "  -0.500"},
        {"%.3f", {0.0005}, "0.001"},
        {"%f", {1.2f}, "1.200000"},
        {"%g", {1.2f}, "1.2"},
        {"%g", {0.1}, "0.1"},
        {"%g", {1e-7}, "1e-07"},
        {"%g", {123456789.0}, "1.23457e+08"},
        {"%d-%d-%d-%02d-%02d-%02d.txt", {2013, 3, 5, 7, 8, 9}, "2013-3-5-07-08-09.txt"},
        {"%05d", {-42}, "-0042"},
        {"%-4d|", {7}, "7   |"},
        {"%s %s", {"a", ""}, "a "},
        {"100%%", {}, "100%"},
        {"%f", {HUGE_VAL}, "inf"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatCaseText(c), c.expected) << c.format;
    }
}

TEST(CFormat, MalformedFormatsGiveNothing) {
    EXPECT_EQ(CFormat("%d %d", {1}), "");  // missing argument
    EXPECT_EQ(CFormat("%q", {1}), "");      // unknown conversion
    EXPECT_EQ(CFormat("%d", {"text"}), ""); // kind mismatch
    EXPECT_EQ(CFormat("%", {}), "");
}

TEST(CFormat, BoundedFormattingRefusesWhatDoesNotFit) {
    char buffer[8];
    int length = -1;
    const CArg arg(12345);
    EXPECT_TRUE(CFormatTo(buffer, 8, length, "n=%d", &arg, 1));
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), "n=12345");
    const CArg big(123456789);
    EXPECT_FALSE(CFormatTo(buffer, 8, length, "n=%d", &big, 1));
}

TEST(CFormat, IgnoresADecimalCommaLocale) {
    const DecimalCommaLocale comma;
    if (!comma.Active()) {
        GTEST_SKIP() << "localedef could not build a decimal-comma locale";
    }
    EXPECT_EQ(CFormat("%8.3f %f %g", {2.5, 0.5, 1.2}), "   2.500 0.500000 1.2");
    EXPECT_EQ(QCFormat("%.1f", {0.25}), QStringLiteral("0.2"));
}

QByteArray Bytes(const char* s) { return QByteArray(s); }

TEST(DeviceText, RoundTripsEveryByteString) {
    const QByteArray cases[] = {
        Bytes("modulename LT-16"),
        Bytes("\xb8\xf0\xb5\xa8\xb8\xed"),       // "모델명" in code page 949
        Bytes("S/N: \xff\xfe\x80 end"),           // bytes that are not 949 at all
        Bytes("\xb0"),                             // a lead byte at the end
        Bytes("\xb0\x0d"),                         // a lead byte before a control character
        QByteArray("a\0b", 3),
        Bytes("\xc9\xa1\xa1\xa1"),                // user-defined area and a symbol
    };
    for (const QByteArray& bytes : cases) {
        EXPECT_EQ(EncodeDeviceText(DecodeDeviceText(bytes)), bytes) << bytes.toHex().toStdString();
    }
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all.append(static_cast<char>(b));
        all.append(static_cast<char>(255 - b));
    }
    EXPECT_EQ(EncodeDeviceText(DecodeDeviceText(all)), all);
}

TEST(DeviceText, ShowsKoreanOfTheWindowsCodePageAndEncodesItBack) {
    // KS X 1001 syllables and the Windows extension area (leads 0x81..0xC6), where IBM's code
    // page 949 differs.
    const struct {
        const char* bytes;
        QString text;
    } cases[] = {
        {"\xb8\xf0\xb5\xa8\xb8\xed \xba\xce\xc0\xfa", QStringLiteral("모델명 부저")},
        {"\x81\x41", QStringLiteral("갂")},
        {"\x8c\x63", QStringLiteral("똠")},
        {"\xc6\x41", QStringLiteral("힍")},
        {"abc\\", QStringLiteral("abc\\")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(DecodeDeviceText(Bytes(c.bytes)), c.text);
        EXPECT_EQ(EncodeDeviceText(c.text), Bytes(c.bytes));
    }
    // Characters outside the code page (an accented letter, an emoji as two surrogates) cannot
    // go to the controller as themselves.
    EXPECT_EQ(EncodeDeviceText(QStringLiteral("x\u00e9\U0001F600")), Bytes("x???"));
}

}  // namespace
