#pragma once
#include <QDialog>
#include <QFuture>
#include <QPixmap>
#include <atomic>
#include <functional>

class QLabel;
class QTimer;

// Busy spinner that runs a job on Qt's global thread pool while it is shown
// modally. The job must not touch widgets; the spinner closes itself on the
// GUI thread once the job has returned. Typical use, on the stack:
//   CComp_DiaWait wait([&]{ ... }); wait.exec();
class CComp_DiaWait : public QDialog
{
    Q_OBJECT
public:
    explicit CComp_DiaWait(std::function<void()> job, QWidget* parent = nullptr);
    ~CComp_DiaWait() override; // waits for the job

    bool jobFinished() const { return m_done.load(); }

public slots:
    void finish();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void turn();

    std::function<void()> m_job;
    QFuture<void> m_future;
    QPixmap m_picture;
    QLabel* m_label = nullptr;
    QTimer* m_spin = nullptr;
    int m_angle = 0;
    std::atomic<bool> m_done{false};
};
