#include "testsupport/logcapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex gMutex;
QStringList gLines;
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&gMutex);
    gLines.clear();
    m_old = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        QMutexLocker lock(&gMutex);
        gLines << msg;
    });
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_old);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&gMutex);
    return gLines;
}

QStringList LogCapture::matching(const QStringList& texts) const
{
    QStringList out;
    for (const QString& l : lines()) {
        bool all = true;
        for (const QString& t : texts)
            all = all && l.contains(t);
        if (all)
            out << l;
    }
    return out;
}
