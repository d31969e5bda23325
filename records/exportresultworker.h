#pragma once
#include <QDate>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// Takes the statistics of a range of days to the USB drive at "/mnt": runs
// the converter over the day databases of the range (counting its "Done"
// lines as progress), then moves the converter's day folders from
// ./ResStatistics into /mnt/<yyyy-MM-dd_hh.mm.ss>/. Lives on a thread of its
// own; one call of work() is one export.
//
// The move is a copy, a sync, a check that every file arrived on the drive
// that was mounted when the export began, and only then the removal of the
// sources. Day databases are only read. Days the converter cannot read are
// named (unreadable) and the others exported. Whatever the outcome, no
// converted folder stays in ./ResStatistics to ride along with the next
// export, and a failed export takes back the stamp folder it made.
class ExportResultWorker : public QObject
{
    Q_OBJECT
public:
    explicit ExportResultWorker(QObject* parent = nullptr);

    // Day databases of the range, in export order: archives by name (the
    // day is the part of the name before the first "."), then the live
    // database when today lies in the range.
    static QStringList selectFiles(const QDate& start, const QDate& end, const QDate& today);
    static QString converterProgram();

    // A converter still running after this long is stopped and the export
    // fails: two minutes plus one second per day file.
    static qint64 converterBoundMs(int files) { return 120000 + 1000LL * files; }

    // Runs program, counting complete output lines that begin with "Done"
    // and collecting the paths of "Unreadable <path>" lines in unreadFiles;
    // stops it after timeoutMs of the station clock (-1: no bound).
    // Returns the exit code, or -1 when it could not start, crashed or was
    // stopped.
    int exportToHistogram(const QString& program, const QStringList& args, qint64 timeoutMs);

    // Called on the worker thread after each folder was copied to the drive
    // (tests pull the drive there).
    void setCopyObserver(std::function<void(const QString&)> fn) { m_copyObserver = std::move(fn); }

    int total = 0;
    int done = 0;
    QStringList unreadFiles;

signals:
    void exportProgress(int total, int done);
    // The export did not reach the drive whole; emitted before finish().
    void failed(QString reason);
    // Days (yyyy-MM-dd, or the file name) the converter could not read; the
    // other days were exported. Emitted before finish().
    void unreadable(QStringList days);
    // No day of the range has statistics: nothing was run or written.
    // Emitted before finish().
    void nothingToExport();
    void finish();

public slots:
    void work(QPair<QString, QString> dates);

private:
    bool moveToDrive(const QString& device, const QString& stamp, QString* reason);
    static void removeConverted();

    std::function<void(const QString&)> m_copyObserver;
};
