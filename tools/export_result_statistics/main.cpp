// export_result_statistics "<day.db>,<day.db>,..."
//
// For every day database of the one comma-separated argument, writes the
// folder ./ResStatistics/<day>/ with one CSV table per parameter group and
// prints a line "Done <path>" when that input is finished, preceded by
// "Unreadable <path>" when it could not be converted (its folder is then
// not left half written). Exit code 0 when every input was converted, 1 when
// any could not be read, 2 on bad usage. Day databases are only read.
#include "frame/globals.h"
#include "records/countgroup.h"
#include "records/resstatisticsdatabase.h"
#include "records/resstatisticsparam.h"
#include "records/statisticsconnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlQuery>
#include <QTextStream>

#include <cstdio>

namespace {

QString csvField(const QString& text)
{
    if (!text.contains(QRegularExpression(QStringLiteral("[,\"\r\n]"))))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A file name every drive accepts; the real name is inside the table.
QString fileNameFor(const QString& group, QStringList& taken)
{
    QString name = group;
    name.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f]")), QStringLiteral("_"));
    name = name.trimmed();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1String("group"));
    QString candidate = name;
    for (int n = 2; taken.contains(candidate, Qt::CaseInsensitive); ++n)
        candidate = QStringLiteral("%1_%2").arg(name).arg(n);
    taken << candidate;
    return candidate + QLatin1String(".csv");
}

// One column of the table: a record and its caption.
struct Column
{
    QString caption;
    const CountDetect* record;
};

QList<Column> columnsOf(const CountGroup& g)
{
    QList<Column> cols;
    auto addCamera = [&cols](const CountCamera& cam, const QString& name, const QString& cycle) {
        for (int d = 0; d < cam.data.size(); ++d)
            cols << Column{QStringLiteral("%1 detection %2").arg(name).arg(d + 1), &cam.data[d]};
        cols << Column{QStringLiteral("%1 %2").arg(name, cycle), &cam.total};
    };
    for (int c = 0; c < g.datas.size(); ++c)
        addCamera(g.datas[c], QStringLiteral("camera %1").arg(c + 1), QStringLiteral("cycle"));
    addCamera(g.total, QStringLiteral("all cameras"), QStringLiteral("machine cycle"));
    return cols;
}

int cell(const QList<int>& v, int i) { return i < v.size() ? v[i] : 0; }

bool writeGroup(const QString& path, const QString& date, const CountGroup& g)
{
    const QList<Column> cols = columnsOf(g);
    QString out;
    QTextStream s(&out);
    s << "date," << csvField(date) << "\r\n";
    s << "group," << csvField(g.groupName) << "\r\n";
    s << "day shift from," << g.morningStart << ",night shift from," << g.nightStart << "\r\n";
    s << "hour";
    for (const Column& c : cols)
        s << ',' << csvField(c.caption + QLatin1String(" OK")) << ',' << csvField(c.caption + QLatin1String(" NG"));
    s << "\r\n";
    const int dayLen = (g.nightStart - g.morningStart + 24) % 24;
    QVector<long long> sums[3]; // day shift, night shift, whole day
    for (auto& v : sums)
        v.fill(0, cols.size() * 2);
    for (int i = 0; i < kStatSlots; ++i) {
        s << (g.morningStart + i) % 24;
        for (int k = 0; k < cols.size(); ++k) {
            const int ok = cell(cols[k].record->OK, i), ng = cell(cols[k].record->NG, i);
            s << ',' << ok << ',' << ng;
            auto& shift = sums[i < dayLen ? 0 : 1];
            shift[2 * k] += ok;
            shift[2 * k + 1] += ng;
            sums[2][2 * k] += ok;
            sums[2][2 * k + 1] += ng;
        }
        s << "\r\n";
    }
    const char* const names[3] = {"day shift", "night shift", "whole day"};
    for (int r = 0; r < 3; ++r) {
        s << names[r];
        for (long long v : sums[r])
            s << ',' << v;
        s << "\r\n";
    }
    s.flush();
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("\xEF\xBB\xBF"); // lets spreadsheet programs read the group names as UTF-8
    f.write(out.toUtf8());
    return f.commit();
}

// The legacy layout sizes its records by the station's counts; take them
// from the rows the file holds.
void sizeForLegacy(QSqlQuery query)
{
    int cameras = 0, detections = 0;
    static const QRegularExpression re(QStringLiteral("^C(\\d+)_D(\\d+)$"));
    if (query.exec(QStringLiteral("select name from %1").arg(ResStatisticsDatabase::table())))
        while (query.next()) {
            const auto m = re.match(query.value(0).toString());
            if (!m.hasMatch())
                continue;
            const int c = m.captured(1).toInt(), d = m.captured(2).toInt();
            if (c < kStatTotalIndex)
                cameras = qMax(cameras, c + 1);
            if (d < kStatTotalIndex)
                detections = qMax(detections, d + 1);
        }
    numCamera = cameras;
    gDNum = detections;
}

bool convert(const QString& path, QString* error)
{
    QJsonObject doc;
    {
        StatisticsConnection conn(QStringLiteral("exportConverter"), path);
        conn.setReadOnly();
        if (!conn.open(true)) {
            *error = QStringLiteral("not a readable statistics database");
            return false;
        }
        sizeForLegacy(QSqlQuery(conn.db()));
        ResStatisticsDatabase reader{ResStatisticsDatabase::ReaderOnly{}};
        doc = reader.loadCountFromJson(QSqlQuery(conn.db()), path);
    }
    CountGroupList list;
    ResStatisticsParam::StuCountFromJson(list, doc);
    QString day = QFileInfo(path).completeBaseName();
    if (QFileInfo(path).fileName() == ResStatisticsDatabase::liveFile())
        day = list.date.isEmpty() ? QStringLiteral("current") : list.date;
    day.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|]")), QStringLiteral("_"));
    const QString folder = ResStatisticsDatabase::archiveDir() + QLatin1Char('/') + day;
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    QStringList taken;
    for (const CountGroup& g : list.groups)
        if (!writeGroup(folder + QLatin1Char('/') + fileNameFor(g.groupName, taken), list.date, g)) {
            *error = QStringLiteral("cannot write into %1").arg(folder);
            QDir(folder).removeRecursively();
            return false;
        }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s \"<day.db>,<day.db>,...\"\n", argv[0]);
        return 2;
    }
    int failures = 0;
    const QStringList inputs = args[1].split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& input : inputs) {
        QString error;
        if (!convert(input, &error)) {
            ++failures;
            std::fprintf(stderr, "%s: %s\n", qPrintable(input), qPrintable(error));
            std::printf("Unreadable %s\n", input.toLocal8Bit().constData());
        }
        std::printf("Done %s\n", input.toLocal8Bit().constData());
        std::fflush(stdout);
    }
    return failures ? 1 : 0;
}
