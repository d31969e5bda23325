#pragma once
#include "platform/qextserialbase.h"

// A serial port over POSIX termios: raw 8-bit line, no echo, no line
// discipline. Reads never block longer than the time-out; bytesAvailable()
// is never negative, also on a port that failed to open. The device name is
// resolved through platform::path(), so "/dev/ttyS1" can be a pseudo-terminal
// below the simulation root.
class Posix_QextSerialPort : public QextSerialBase
{
    Q_OBJECT
public:
    explicit Posix_QextSerialPort(const QString& name, QueryMode mode = Polling);
    ~Posix_QextSerialPort() override;

    bool open(OpenMode mode) override;
    void close() override;

    void setBaudRate(BaudRateType rate) override;
    void setDataBits(DataBitsType bits) override;
    void setParity(ParityType parity) override;
    void setStopBits(StopBitsType bits) override;
    void setFlowControl(FlowType flow) override;
    void setTimeout(long millisec) override;

    qint64 bytesAvailable() const override;
    int handle() const { return m_fd; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void applySettings();

    int m_fd = -1;
};
