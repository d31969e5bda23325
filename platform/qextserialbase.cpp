#include "platform/qextserialbase.h"

QextSerialBase::QextSerialBase(const QString& name, QueryMode mode)
    : m_portName(name)
    , m_queryMode(mode)
{
}

QextSerialBase::~QextSerialBase() = default;
