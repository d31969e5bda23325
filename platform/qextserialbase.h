#pragma once
#include <QIODevice>
#include <QString>

// Line settings of a serial port, the calls the board link makes. The concrete
// port (Posix_QextSerialPort) applies them to the device.
enum BaudRateType { BAUD9600 = 9600, BAUD19200 = 19200, BAUD38400 = 38400, BAUD57600 = 57600, BAUD115200 = 115200 };
enum DataBitsType { DATA_5 = 5, DATA_6 = 6, DATA_7 = 7, DATA_8 = 8 };
enum ParityType { PAR_NONE, PAR_ODD, PAR_EVEN };
enum StopBitsType { STOP_1, STOP_2 };
enum FlowType { FLOW_OFF, FLOW_HARDWARE, FLOW_XONXOFF };

struct PortSettings {
    BaudRateType BaudRate = BAUD115200;
    DataBitsType DataBits = DATA_8;
    ParityType Parity = PAR_NONE;
    StopBitsType StopBits = STOP_1;
    FlowType FlowControl = FLOW_OFF;
    long Timeout_Millisec = 0;
};

class QextSerialBase : public QIODevice
{
    Q_OBJECT
public:
    // 0: the caller polls (reads what is there); 1: event driven (not used).
    enum QueryMode { Polling = 0, EventDriven = 1 };

    explicit QextSerialBase(const QString& name = QString(), QueryMode mode = Polling);
    ~QextSerialBase() override;

    QString portName() const { return m_portName; }
    QueryMode queryMode() const { return m_queryMode; }
    const PortSettings& settings() const { return m_settings; }

    virtual void setBaudRate(BaudRateType rate) = 0;
    virtual void setDataBits(DataBitsType bits) = 0;
    virtual void setParity(ParityType parity) = 0;
    virtual void setStopBits(StopBitsType bits) = 0;
    virtual void setFlowControl(FlowType flow) = 0;
    virtual void setTimeout(long millisec) = 0;

    bool isSequential() const override { return true; }

protected:
    QString m_portName;
    QueryMode m_queryMode;
    PortSettings m_settings;
};
