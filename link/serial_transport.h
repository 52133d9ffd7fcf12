#pragma once
// A local serial device (RS-232, USB serial adapter, pseudo-terminal) through QSerialPort.
// See port_transport.h for the contract; internal to link/.

#include <QString>

#include "port_transport.h"

class QTimer;

class SerialTransport final : public PortTransport {
public:
    // Says why a device that QSerialPort refused did not open.
    using Classifier = OpenFailure (*)(const QString& path, QSerialPort::SerialPortError error);

    SerialTransport(QString path, const LineSettings& settings, Classifier classify);
    ~SerialTransport() override;

    OpenFailure Open(QObject* context, const Sink& sink) override;
    std::uint32_t Write(const unsigned char* data, std::uint32_t length) override;
    void Close() override;

private:
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    void CheckHangup();
    void Gone();

    QString path_;
    LineSettings settings_;
    Classifier classify_;
    Sink sink_;
    QObject* context_ = nullptr;
    QSerialPort* port_ = nullptr;
    QTimer* hangupCheck_ = nullptr;
    bool lost_ = false;
};
