#include "platform/posix_qextserialport.h"
#include "platform/platformpath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedOf(BaudRateType rate)
{
    switch (rate) {
    case BAUD9600: return B9600;
    case BAUD19200: return B19200;
    case BAUD38400: return B38400;
    case BAUD57600: return B57600;
    case BAUD115200: return B115200;
    }
    return B115200;
}

} // namespace

Posix_QextSerialPort::Posix_QextSerialPort(const QString& name, QueryMode mode)
    : QextSerialBase(name, mode)
{
}

Posix_QextSerialPort::~Posix_QextSerialPort()
{
    close();
}

bool Posix_QextSerialPort::open(OpenMode mode)
{
    if (isOpen())
        return true;
    int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if ((mode & ReadWrite) == ReadWrite)
        flags |= O_RDWR;
    else if (mode & WriteOnly)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    const QByteArray dev = platform::path(m_portName).toLocal8Bit();
    m_fd = ::open(dev.constData(), flags);
    if (m_fd < 0) {
        setErrorString(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    applySettings();
    // Unbuffered: bytesAvailable() and read() talk to the device directly.
    return QIODevice::open(mode | Unbuffered);
}

void Posix_QextSerialPort::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (isOpen())
        QIODevice::close();
}

void Posix_QextSerialPort::applySettings()
{
    if (m_fd < 0)
        return;
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
        return; // not a terminal (a plain file): nothing to set
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CSIZE;
    switch (m_settings.DataBits) {
    case DATA_5: tio.c_cflag |= CS5; break;
    case DATA_6: tio.c_cflag |= CS6; break;
    case DATA_7: tio.c_cflag |= CS7; break;
    case DATA_8: tio.c_cflag |= CS8; break;
    }
    tio.c_cflag &= ~(PARENB | PARODD);
    if (m_settings.Parity == PAR_EVEN)
        tio.c_cflag |= PARENB;
    else if (m_settings.Parity == PAR_ODD)
        tio.c_cflag |= PARENB | PARODD;
    if (m_settings.StopBits == STOP_2)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (m_settings.FlowControl == FLOW_HARDWARE)
        tio.c_cflag |= CRTSCTS;
    else if (m_settings.FlowControl == FLOW_XONXOFF)
        tio.c_iflag |= IXON | IXOFF;
    // Reads return at once; the time-out is applied in readData.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speedOf(m_settings.BaudRate));
    cfsetospeed(&tio, speedOf(m_settings.BaudRate));
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
        setErrorString(QString::fromLocal8Bit(strerror(errno)));
}

void Posix_QextSerialPort::setBaudRate(BaudRateType rate)
{
    m_settings.BaudRate = rate;
    applySettings();
}

void Posix_QextSerialPort::setDataBits(DataBitsType bits)
{
    m_settings.DataBits = bits;
    applySettings();
}

void Posix_QextSerialPort::setParity(ParityType parity)
{
    m_settings.Parity = parity;
    applySettings();
}

void Posix_QextSerialPort::setStopBits(StopBitsType bits)
{
    m_settings.StopBits = bits;
    applySettings();
}

void Posix_QextSerialPort::setFlowControl(FlowType flow)
{
    m_settings.FlowControl = flow;
    applySettings();
}

void Posix_QextSerialPort::setTimeout(long millisec)
{
    m_settings.Timeout_Millisec = millisec < 0 ? 0 : millisec;
}

qint64 Posix_QextSerialPort::bytesAvailable() const
{
    if (m_fd < 0)
        return 0;
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0 || n < 0)
        return 0;
    return qint64(n);
}

qint64 Posix_QextSerialPort::readData(char* data, qint64 maxSize)
{
    if (m_fd < 0 || maxSize <= 0)
        return m_fd < 0 ? -1 : 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, data, size_t(maxSize));
        if (n >= 0)
            return qint64(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        // Nothing there: wait at most the time-out once, then report none.
        if (m_settings.Timeout_Millisec <= 0)
            return 0;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(m_settings.Timeout_Millisec)) <= 0 || !(p.revents & POLLIN))
            return 0;
        const ssize_t m = ::read(m_fd, data, size_t(maxSize));
        return m > 0 ? qint64(m) : 0;
    }
}

qint64 Posix_QextSerialPort::writeData(const char* data, qint64 size)
{
    if (m_fd < 0)
        return -1;
    qint64 done = 0;
    int waits = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waits < 10) {
            // The line is full: give it a little time, never block for long.
            ++waits;
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
            continue;
        }
        break;
    }
    return done > 0 ? done : (size == 0 ? 0 : -1);
}
