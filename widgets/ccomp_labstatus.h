#pragma once
#include <QLabel>

class QMovie;
class QPixmap;

// Small status lamp: busy animation, OK picture or error picture.
class CComp_LabStatus : public QLabel
{
    Q_OBJECT
public:
    enum STATUS { ST_OK = 0, ST_BUSY = 1, ST_ERROR = 2 };

    explicit CComp_LabStatus(QWidget* parent = nullptr);
    ~CComp_LabStatus() override;

    void setStatus(int s);
    int status() const { return m_status; }

private:
    int m_status = ST_BUSY;
    QMovie* m_movie = nullptr;
    QPixmap* m_ok = nullptr;
    QPixmap* m_error = nullptr;
};
