#pragma once
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>

class ViewWatch2ZEL;

// The station's journal: one row per entry (time, login level name, text,
// kind) in RECORD.db of the working directory, rotated into ./RECORD/<day>.db
// when the day changes. Every entry is also handed to the remote viewer
// before it is stored.
//
// The SQLite connection belongs to the thread this object lives on (the GUI
// thread); entries written from other threads are carried over to it.
// Files are never rewritten in place: the day's database is moved aside with
// a checked rename and its successor is copied beside it and renamed over, so
// a power cut leaves either the old or the new file, never half of one.
class OperationRecords : public QObject
{
    Q_OBJECT
public:
    // The process-wide journal, made on first use and bound to the thread of
    // the application object.
    static OperationRecords* instance();

    static const char* const kConnection; // "dbRecord"
    static const char* const kDbFile;     // "RECORD.db"
    static const char* const kTemplate;   // "RECORDNULL.db"
    static const char* const kArchiveDir; // "RECORD"
    static const char* const kDayFile;    // "time.txt"

    // One stored entry.
    struct Row {
        QString time, level, text, type;
        bool operator==(const Row& o) const
        {
            return time == o.time && level == o.level && text == o.text && type == o.type;
        }
    };
    // The entries of a journal file (today's or an archived day's), oldest
    // first, read on a read-only connection of the caller's own, so any
    // thread may ask. False when the file exists but cannot be read; a
    // missing file has no entries.
    static bool readRows(const QString& path, QVector<Row>* rows);

    // A day's journal read in pieces over a long while, one piece at a time
    // from any thread, each on a read-only connection of its own (no lock is
    // held between pieces, so the journal is written meanwhile): every piece
    // comes from the file the reading began with, under whatever name that
    // file has by then. The day change links today's file into ./RECORD
    // under its day and puts a fresh one in its place: the reading goes on
    // in the day's file to its end. A piece fails when that file is gone,
    // cannot be read, or was cleared since the piece before (the last entry
    // read no longer stands where it stood).
    class DayReading
    {
    public:
        // `path`: RECORD.db (made on the journal's thread, so that it is the
        // file of `day`) or the file of a past `day` in ./RECORD. A missing
        // file has no entries.
        DayReading(const QString& path, const QString& day);
        // The next `limit` entries at most; fewer at the file's end.
        bool next(int limit, QVector<Row>* rows);

    private:
        bool isTheFile(const QString& path) const;
        QString nameNow() const;

        const QString m_path, m_day;
        bool m_exists = false;
        quint64 m_device = 0, m_inode = 0;
        bool m_begun = false;
        qint64 m_last = 0; // the number of the last entry read
        Row m_lastRow;
    };

    // Appends one entry. True when the row is stored (or, from another
    // thread, handed over to be stored); an entry that cannot be stored, or
    // comes after the end of the run has closed the databases, is written
    // whole to the log.
    bool InsertRecord(const QString& text, const QString& type);
    bool InsertRecord(const QString& text) { return InsertRecord(text, QString()); }
    // Empties today's database; past days are not touched.
    bool ClearRecord();
    // The day check: when the date differs from the stored day, moves
    // RECORD.db into ./RECORD and starts a fresh one. False when the move
    // failed (today's file is then kept as it is and the next check retries).
    bool SlotCheckDate();

    // --- start-up, in the main window's order ---
    // RECORD.db missing: the English notice (message 135), the template
    // copied over, "sync", "reboot". False when the file was missing.
    bool checkRecordFileAtStart();
    // Opens the connection and gives the table its kind column. A file that
    // is not a usable journal is kept as RECORD.db.damaged and replaced; one
    // another program holds locked is waited for, reported and kept.
    bool openAtStart();
    // The ./RECORD folder.
    void makeArchiveDir();
    // Reads the stored day from time.txt (today when it is missing or not a
    // date, which never reaches a file name) and runs the day check once.
    void loadDayAndCheck();
    // Starts the repeating 60 s day check on the station clock and writes
    // the start-up entry (message 150 with the camera count).
    void startDayTimerAndRecordReady(int cameras);
    // All of the above in order (for callers without a window of their own).
    void runStartup(int cameras);

    // Writes an empty journal template (table RECORD, three text columns) at
    // path, replacing what is there. Used by the factory tool.
    static bool writeTemplate(const QString& path);

    QString storedDay() const { return m_day; }
    QSqlDatabase database() const;
    // Closes the connection (the next entry opens it again).
    void close();

    // The viewer link every entry goes to (not owned); nullptr gives the
    // journal's own link, which is off.
    void setViewerLink(ViewWatch2ZEL* link) { m_link = link; }
    ViewWatch2ZEL* viewerLink();

    // The level name stored with an entry for a login level.
    static QString levelName(int loginLevel);

private:
    explicit OperationRecords(QObject* parent = nullptr);
    Q_INVOKABLE bool insertHere(const QString& time, const QString& text, const QString& type);
    bool ensureOpen();
    QString freshFile();
    bool putInPlace(const QString& fresh);
    bool replaceFromTemplate();
    bool writeDay(const QString& day);
    void scheduleDayCheck();

    QSqlQuery m_insert;
    bool m_prepared = false;
    QString m_day;
    ViewWatch2ZEL* m_link = nullptr;
    class Clock* m_timerClock = nullptr; // the clock the 60 s check runs on
};
