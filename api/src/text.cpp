#include "text.h"

#include "device_text.h"

namespace lumitrax::detail {

std::string DecodeToUtf8(const std::string& bytes) {
    return DecodeDeviceText(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()))).toStdString();
}

std::string EncodeFromUtf8(const std::string& utf8) {
    return EncodeDeviceText(QString::fromStdString(utf8)).toStdString();
}

void RefuseNul(const std::string& name, ErrorKind kind, const char* what) {
    const std::size_t nul = name.find('\0');
    if (nul != std::string::npos) {
        throw Error(kind, name.substr(0, nul) + "\\0...: not a " + what + " (it holds a NUL byte)");
    }
}

}  // namespace lumitrax::detail
