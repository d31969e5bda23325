#include "widgets/ccomp_diawait.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QRegion>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QTransform>
#include <QtConcurrent/QtConcurrentRun>
#include <QtDebug>

#include <exception>

namespace {
const char* const kWaitPicture = "./images/wait.png";
}

CComp_DiaWait::CComp_DiaWait(std::function<void()> job, QWidget* parent)
    : QDialog(parent)
    , m_job(std::move(job))
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(64, 64);
    // Without a compositor a translucent window shows black corners; a round
    // window keeps the spinner a disc on any panel.
    setMask(QRegion(0, 0, 64, 64, QRegion::Ellipse));

    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignCenter);
    m_picture = QPixmap(kWaitPicture);
    m_label->setPixmap(m_picture);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(m_label);

    // The picture turns while the job runs, so a slow job does not look hung.
    m_spin = new QTimer(this);
    m_spin->setInterval(100);
    connect(m_spin, &QTimer::timeout, this, &CComp_DiaWait::turn);

    m_future = QtConcurrent::run(QThreadPool::globalInstance(), [this]() {
        QThread::msleep(100);
        try {
            if (m_job)
                m_job();
        } catch (const std::exception& ex) {
            qWarning() << "background job failed:" << ex.what();
        } catch (...) {
            qWarning() << "background job failed";
        }
        // Always close the spinner, also after a failed job: a modal spinner
        // that never closes locks the whole panel.
        m_done.store(true);
        QMetaObject::invokeMethod(this, "finish", Qt::QueuedConnection);
    });
}

CComp_DiaWait::~CComp_DiaWait()
{
    m_future.waitForFinished();
}

void CComp_DiaWait::finish()
{
    m_spin->stop();
    accept();
}

void CComp_DiaWait::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    // The close request may already have been handled by another event loop
    // before exec() started; without this the spinner would wait forever.
    if (m_done.load())
        QMetaObject::invokeMethod(this, "finish", Qt::QueuedConnection);
    else
        m_spin->start();
}

void CComp_DiaWait::turn()
{
    const QPixmap& base = m_picture;
    if (base.isNull())
        return;
    m_angle = (m_angle + 30) % 360;
    QPixmap rotated = base.transformed(QTransform().rotate(m_angle), Qt::SmoothTransformation);
    // keep the size: cut the centre of the rotated picture
    const QRect r((rotated.width() - base.width()) / 2, (rotated.height() - base.height()) / 2, base.width(), base.height());
    m_label->setPixmap(rotated.copy(r));
}
