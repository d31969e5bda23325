#include "widgets/ccomp_labstatus.h"

#include <QMovie>
#include <QPixmap>

CComp_LabStatus::CComp_LabStatus(QWidget* parent)
    : QLabel(parent)
{
    setFixedSize(35, 35);
    m_movie = new QMovie(":/wait.gif", QByteArray(), this);
    m_ok = new QPixmap(":/right.png");
    m_error = new QPixmap(":/error.png");
    setStatus(ST_BUSY);
}

CComp_LabStatus::~CComp_LabStatus()
{
    delete m_ok;
    delete m_error;
}

void CComp_LabStatus::setStatus(int s)
{
    switch (s) {
    case ST_BUSY:
        setMovie(m_movie);
        m_movie->start();
        break;
    case ST_ERROR:
        m_movie->stop();
        setPixmap(*m_error);
        break;
    case ST_OK:
        m_movie->stop();
        setPixmap(*m_ok);
        break;
    default:
        break; // unknown status: keep the picture
    }
    m_status = s;
    show();
}
