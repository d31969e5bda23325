#pragma once
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the warnings and errors logged while it lives (Qt's message
// handler), so a test can check what a log line says.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    // The lines that contain every one of the texts.
    QStringList matching(const QStringList& texts) const;

private:
    QtMessageHandler m_old;
};
