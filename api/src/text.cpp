#include "text.h"

#include "device_text.h"

namespace lumitrax::detail {

std::string DecodeToUtf8(const std::string& bytes) {
    return DecodeDeviceText(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()))).toStdString();
}

std::string EncodeFromUtf8(const std::string& utf8) {
    return EncodeDeviceText(QString::fromStdString(utf8)).toStdString();
}

}  // namespace lumitrax::detail
