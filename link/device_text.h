#pragma once
// The text rule for bytes from the controller and from files.
//
// Such text is 8-bit: ASCII, and Korean in code page 949 where it is not ASCII. Decode turns
// it into a QString for the window; Encode gives back the bytes. The pair round-trips every
// byte string exactly: a byte that is not part of a valid code page 949 character is kept as
// one private-use character (U+F700 + byte) that Encode turns back into that byte. A
// character that code page 949 cannot represent is encoded as '?'.
//
// Pure; any thread.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

QString DecodeDeviceText(QByteArrayView bytes);
QByteArray EncodeDeviceText(QStringView text);
