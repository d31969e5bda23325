// Writes the factory-default databases of a fresh working directory:
//   paramgen <folder> [--lan N]
// creates <folder>/PARAM.db and <folder>/SN.db from the parameter defaults,
// and the empty journal template <folder>/RECORDNULL.db.
//   paramgen --statistics-template <file>
// writes the empty statistics database.
//   paramgen --board-port <folder>
// prints the I/O board's serial port number that the station in <folder>
// will open (its PARAM.db, loaded and checked as the station loads it), so
// the board simulator can be started on the same port.
//   paramgen --language <folder>
// prints, the same way, the language the station in <folder> starts in
// ("English"), so scripts/run.sh can say it.
// Both exit with 3, printing nothing, when <folder>/PARAM.db is one the
// station does not start on (missing, empty or damaged): it replaces such a
// file by the factory copy in paraGroup/default/ and restarts, so the values
// that count are that copy's.
//   paramgen --help (or -h)
// prints the usage and writes nothing; an option it does not know is
// refused with the usage on stderr and exit code 2, writing nothing.
#include "controller/mainstate.h"
#include "controller/operationrecords.h"
#include "frame/databasefile.h"
#include "frame/factorydefaults.h"
#include "frame/globals.h"
#include "frame/messagetable.h"
#include "frame/parameterstartup.h"
#include "frame/wizardpara.h"
#include "records/resstatisticsdatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: paramgen <folder> [--lan 0..3]\n"
    "           writes the factory PARAM.db, SN.db and RECORDNULL.db into <folder> (made when missing);\n"
    "           --lan: 0 Simplified Chinese (default), 1 English, 2 Traditional Chinese, 3 Japanese\n"
    "       paramgen --statistics-template <file>\n"
    "           writes the empty statistics database\n"
    "       paramgen --board-port <folder>\n"
    "           prints the I/O board port the station in <folder> opens\n"
    "       paramgen --language <folder>\n"
    "           prints the language the station in <folder> starts in\n"
    "       paramgen --help\n"
    "           prints this\n";

// A word that looks like an option and is none of ours: without this check
// it would be taken for a folder name and filled with databases.
bool unknownOption(const QStringList& args)
{
    static const QStringList taking{QStringLiteral("--lan"), QStringLiteral("--statistics-template"),
                                    QStringLiteral("--board-port"), QStringLiteral("--language")};
    for (int i = 0; i < args.size(); ++i) {
        if (taking.contains(args.at(i)))
            ++i; // its value may start with '-' and is judged by the option
        else if (args.at(i).startsWith(QLatin1Char('-')))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (unknownOption(args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // paramgen --statistics-template <file>: the empty statistics database
    // that replaces ResStatistics.db at first start and after every archive.
    if (args.size() == 2 && args.first() == QLatin1String("--statistics-template"))
        return ResStatisticsDatabase::writeTemplate(args.at(1)) ? 0 : 1;
    if (args.size() == 2 && (args.first() == QStringLiteral("--board-port") || args.first() == QStringLiteral("--language"))) {
        if (!QDir::setCurrent(args.at(1))) {
            std::fprintf(stderr, "paramgen: no folder %s\n", qPrintable(args.at(1)));
            return 1;
        }
        // The station's own check; a file another program holds is one the
        // station goes on with, so it is read as it stands.
        QString why;
        const DatabaseFile::State state =
            DatabaseFile::check(QStringLiteral("PARAM.db"), QStringLiteral("sysparam"), &why);
        if (state == DatabaseFile::Missing || state == DatabaseFile::Empty || state == DatabaseFile::Damaged) {
            std::fprintf(stderr, "paramgen: %s/PARAM.db is not usable: %s\n", qPrintable(args.at(1)),
                         qPrintable(why));
            return 3;
        }
        MainState main;
        if (!ParameterStartup::openParamDb(&main))
            return 1;
        gpWin = &main;
        WizardPara para;
        para.LoadDatafromFile();
        if (args.first() == QStringLiteral("--board-port"))
            std::printf("%d\n", para.comPort);
        else
            std::printf("%s\n", qPrintable(MessageTable::languageName(gLan)));
        gpWin = nullptr;
        return 0;
    }
    int lan = 0;
    const int lanAt = args.indexOf(QStringLiteral("--lan"));
    if (lanAt >= 0) {
        bool ok = false;
        lan = args.value(lanAt + 1).toInt(&ok);
        if (!ok || lan < 0 || lan > 3) {
            std::fprintf(stderr, "paramgen: --lan takes 0..3\n");
            return 2;
        }
        args.erase(args.begin() + lanAt, args.begin() + lanAt + 2);
    }
    if (args.size() != 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QString dir = args.first();
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "paramgen: cannot create %s\n", qPrintable(dir));
        return 1;
    }
    WizardPara para;
    FactoryDefaults::apply(para);
    if (!FactoryDefaults::writeParamDb(dir + QStringLiteral("/PARAM.db"), para, lan)) {
        std::fprintf(stderr, "paramgen: PARAM.db not written\n");
        return 1;
    }
    if (!FactoryDefaults::writeSnDb(dir + QStringLiteral("/SN.db"))) {
        std::fprintf(stderr, "paramgen: SN.db not written\n");
        return 1;
    }
    if (!OperationRecords::writeTemplate(dir + QStringLiteral("/RECORDNULL.db"))) {
        std::fprintf(stderr, "paramgen: RECORDNULL.db not written\n");
        return 1;
    }
    return 0;
}
