#include "device_text.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr char16_t kRawByteBase = 0xF700;  // U+F780..U+F7FF carry the bytes 0x80..0xFF

// Converters keep state, so each thread has its own.
// The Windows code page 949 (Unified Hangul Code): ICU's "CP949" is IBM's code page of that
// number, which differs in thousands of two-byte codes and maps 0x5C to the won sign.
constexpr char kCodePage[] = "windows-949";

QStringDecoder& Decoder() {
    thread_local QStringDecoder decoder(kCodePage, QStringConverter::Flag::Stateless);
    return decoder;
}

QStringEncoder& Encoder() {
    thread_local QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
    return encoder;
}

bool IsRawByteChar(char16_t c) { return c >= kRawByteBase + 0x80 && c <= kRawByteBase + 0xFF; }

// The character of a two-byte sequence when it is valid code page 949 and encodes back to the
// same two bytes; 0 otherwise.
char16_t DecodePair(unsigned char lead, unsigned char trail) {
    QStringDecoder& decoder = Decoder();
    if (!decoder.isValid()) {
        return 0;
    }
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    decoder.resetState();
    const QString decoded = decoder.decode(QByteArrayView(pair, 2));
    if (decoded.size() != 1) {
        return 0;
    }
    const char16_t c = decoded.at(0).unicode();
    if (c < 0x80 || c == 0xFFFD || IsRawByteChar(c) || QChar::isSurrogate(c)) {
        return 0;
    }
    QStringEncoder& encoder = Encoder();
    encoder.resetState();
    const QByteArray back = encoder.encode(QStringView(decoded));
    if (back.size() != 2 || static_cast<unsigned char>(back[0]) != lead ||
        static_cast<unsigned char>(back[1]) != trail) {
        return 0;
    }
    return c;
}

}  // namespace

QString DecodeDeviceText(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = b[i];
        if (c < 0x80) {
            out.append(QChar(static_cast<char16_t>(c)));
            continue;
        }
        if (c >= 0x81 && c <= 0xFE && i + 1 < n) {
            if (const char16_t k = DecodePair(c, b[i + 1]); k != 0) {
                out.append(QChar(k));
                ++i;
                continue;
            }
        }
        out.append(QChar(static_cast<char16_t>(kRawByteBase + c)));
    }
    return out;
}

QByteArray EncodeDeviceText(QStringView text) {
    QByteArray out;
    out.reserve(text.size() * 2);
    QStringEncoder& encoder = Encoder();
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x80) {
            out.append(static_cast<char>(c));
        } else if (IsRawByteChar(c)) {
            out.append(static_cast<char>(c - kRawByteBase));
        } else {
            QByteArray encoded;
            if (encoder.isValid() && !ch.isSurrogate()) {
                encoder.resetState();
                encoded = encoder.encode(QStringView(&ch, 1));
            }
            // Only a two-byte code page 949 character stands for itself.
            if (encoded.size() == 2 && static_cast<unsigned char>(encoded[0]) >= 0x81) {
                out.append(encoded);
            } else {
                out.append('?');
            }
        }
    }
    return out;
}
