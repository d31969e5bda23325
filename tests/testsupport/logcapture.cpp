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
    // A copy of its own: a shared one would be detached by the next line
    // logged on another thread while this one still reads it.
    QMutexLocker lock(&gMutex);
    QStringList copy;
    copy.reserve(gLines.size());
    for (const QString& l : gLines)
        copy << QString(l.constData(), l.size());
    return copy;
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
