#include "widgets/splashframeinit.h"

#include <QApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

SplashFrameInit::SplashFrameInit()
    : QSplashScreen(QPixmap())
{
    m_bar = new QProgressBar(this);
    m_bar->setFixedSize(300, 30);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setStyleSheet("QProgressBar{font-size:15px;text-align: center;background-color: white;}"
                         "QProgressBar::chunk:enabled {border-radius: 2px; background: #3498DB;}"
                         "QLabel{font-size:20px;color:white;}"
                         "QPushButton{outline:0px;border:none;font-size:15px;height:40px;width:80px;color:white;background-color:#E91E63;}"
                         "QPushButton:hover{background-color:#FFC107;}"
                         "QPushButton:!hover{background-color:#E91E63;}");
    auto* lay = new QVBoxLayout(this);
    lay->setSpacing(10);
    lay->addWidget(m_bar);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    show();
    QApplication::processEvents();
}

void SplashFrameInit::flush()
{
    show();
    QApplication::processEvents();
    QThread::msleep(100);
}

void SplashFrameInit::flushstep(int v)
{
    m_value = qMax(qBound(0, v, 100), m_value);
    m_bar->setValue(m_value);
    m_bar->repaint();
    flush();
}

void SplashFrameInit::flushstep_plus(int d)
{
    const qint64 next = qint64(m_value) + d;
    flushstep(int(qBound<qint64>(0, next, 100)));
}
