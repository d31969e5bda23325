#include "frame/globals.h"
#include "frame/messagetable.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

QString at(int m, int l)
{
    return gaLanStr[4 * m + l];
}

// A message in all four languages.
QStringList row(int m)
{
    return {at(m, 0), at(m, 1), at(m, 2), at(m, 3)};
}

// The rows of the shipped table (every row must load).
int shippedRows()
{
    QFile f(QString::fromLatin1(MessageTable::kResourcePath));
    int n = 0;
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            n += (!line.trimmed().isEmpty() && !line.startsWith('#')) ? 1 : 0;
    return n;
}

const QSet<int> kJapaneseEmpty{357, 370, 557, 621, 622, 623};

QSet<QString> placeholders(const QString& s)
{
    QSet<QString> out;
    static const QRegularExpression re(QStringLiteral("%\\d+"));
    auto it = re.globalMatch(s);
    while (it.hasNext())
        out.insert(it.next().captured());
    return out;
}

} // namespace

class TestMessages : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_savedLan = gLan;
        QCOMPARE(MessageTable::load(), shippedRows());
    }

    void cleanup()
    {
        gLan = m_savedLan;
    }

    void shippedTextsAgreeAcrossLanguages()
    {
        int english = 0;
        for (int m = 0; m < MessageTable::kMessageCount; ++m) {
            const QString what = QString::number(m);
            const QString en = at(m, 1);
            // Every English text is translated, and not by copying the English
            // over (a few labels such as "IP", "1#" or "%1" are the same in every
            // language).
            if (!en.isEmpty()) {
                ++english;
                QVERIFY2(!at(m, 0).isEmpty() && !at(m, 2).isEmpty(), qPrintable(what));
                QVERIFY2(kJapaneseEmpty.contains(m) || !at(m, 3).isEmpty(), qPrintable(what));
                if (en.contains(QRegularExpression(QStringLiteral("[a-zA-Z]{3}"))) && m < 758)
                    QVERIFY2(at(m, 0) != en, qPrintable(what));
            }
            // The same placeholders in every language that has the text.
            QList<QSet<QString>> used;
            for (const QString& text : row(m))
                if (!text.isEmpty())
                    used << placeholders(text);
            QVERIFY2(used.count(used.value(0)) == used.size(), qPrintable(what));
            // Line breaks: CR only in English and only before LF; multi-line
            // English texts go into boxes, and so do their translations.
            for (int l : {0, 2, 3})
                QVERIFY2(!at(m, l).contains(QLatin1Char('\r')), qPrintable(what));
            for (int i = 0; i < en.size(); ++i)
                if (en.at(i) == QLatin1Char('\r'))
                    QVERIFY2(i + 1 < en.size() && en.at(i + 1) == QLatin1Char('\n'), qPrintable(what));
            if (en.contains(QLatin1Char('\n')) && m != 320) {
                QVERIFY2(at(m, 0).contains(QLatin1Char('\n')), qPrintable(what));
                QVERIFY2(at(m, 3).isEmpty() || at(m, 3).contains(QLatin1Char('\n')), qPrintable(what));
            }
        }
        QVERIFY(english >= 730); // the first table's 730, and every later message
    }

    void placeholderTextsFillWithArg()
    {
        // QString::arg needs "%1", not "1%" or "% 1"; these texts are filled that way.
        for (int l = 0; l < 4; ++l) {
            const QString restored = at(286, l).arg(QStringLiteral("GROUP7"));
            QVERIFY2(restored.contains(QLatin1String("GROUP7")), qPrintable(restored));
            const QString tip = at(731, l).arg(at(729, l), at(730, l));
            QVERIFY2(tip.contains(at(729, l)) && tip.contains(at(730, l)), qPrintable(tip));
            const QString pct = at(723, l).arg(25);
            QVERIFY2(pct.contains(QLatin1String("25 %")), qPrintable(pct));
        }
    }

    void reloadAndLookUp()
    {
        gaLanStr[4 * 1000 + 2] = QStringLiteral("stale"); // an unused number
        gaLanStr[4 * 578 + 0] = QStringLiteral("stale");
        gaLanStr[4 * 121 + 1] = QStringLiteral("stale");
        QCOMPARE(MessageTable::load(), shippedRows());
        QCOMPARE(at(1000, 2), QString());
        QCOMPARE(at(578, 0), QString());

        // Look-ups in the language in force, bounds-checked on number and language.
        gLan = 1;
        QCOMPARE(MessageTable::text(121), QStringLiteral("Confirm"));
        gLan = 3;
        QCOMPARE(MessageTable::text(121), QString::fromUtf8("確定"));
        for (int m : {-1, 2048, 1 << 30, int(MessageTable::kMessageCount)})
            QCOMPARE(MessageTable::text(m), QString());
        gLan = 4;
        QCOMPARE(MessageTable::text(121), QString());
        gLan = -1;
        QCOMPARE(MessageTable::text(0), QString());
    }

    void parseUnescapesAndSkips()
    {
        const QByteArray data = "# heading\r\n"
                                "\r\n"
                                "5\ta\\nb\tx\\r\\ny\tt\\\\u\tp\\tq\n"
                                "6\t\t\t\t\n"
                                "7\tz\te\tt\tj\r\n"
                                "   \n"
                                "#8\tz\te\tt\tj\n"
                                "9\t\xe7\xa1\xae\xe5\xae\x9a\tOK\tok\tok";
        QCOMPARE(MessageTable::parse(data), 4);
        QCOMPARE(row(5), QStringList({"a\nb", "x\r\ny", "t\\u", "p\tq"}));
        QCOMPARE(row(6), QStringList({"", "", "", ""}));
        QCOMPARE(row(7), QStringList({"z", "e", "t", "j"}));
        QCOMPARE(at(8, 0), QString());
        QCOMPARE(row(9), QStringList({QString::fromUtf8("确定"), "OK", "ok", "ok"}));
        // parse replaces the whole table.
        QCOMPARE(at(121, 1), QString());
    }

    void parseRejectsBadLines()
    {
        // Each bad line warns with its line number and leaves no trace; the
        // good lines around them are kept at their own numbers.
        const QList<QByteArray> badLines = {
            "20\ta\tb\tc", "20", "20\ta\tb\tc\td\te",                       // field counts
            "abc\ta\tb\tc\td", "\ta\tb\tc\td", "+20\ta\tb\tc\td", " 20\ta\tb\tc\td", "20x\ta\tb\tc\td",
            "0x14\ta\tb\tc\td", "-1\ta\tb\tc\td",                            // numbers
            "1024\ta\tb\tc\td", "2048\ta\tb\tc\td", "99999999999999999999\ta\tb\tc\td", // out of range
            "20\ta\\qb\tb\tc\td", "20\ta\tb\tc\td\\",                          // escapes
            "20\ta\xff\xfe\tb\tc\td", "20\ta\tb\tc\td\xe7\xa1",                  // UTF-8
            "10\tsecond\tsecond\tsecond\tsecond"};                        // a number given twice
        QByteArray data = "10\tzh10\ten10\ttw10\tja10\n# comment\n";
        for (int i = 0; i < badLines.size(); ++i) {
            data += badLines[i] + '\n';
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("line %1\\b").arg(i + 3)));
        }
        data += "11\tzh11\ten11\ttw11\tja11\n";
        QCOMPARE(MessageTable::parse(data), -1);
        QCOMPARE(QStringList({at(10, 0), at(10, 3), at(11, 1), at(11, 3)}), QStringList({"zh10", "ja10", "en11", "ja11"}));
        for (int m = 0; m < 2048; ++m)
            QVERIFY2(m == 10 || m == 11 || row(m).join(QString()).isEmpty(), qPrintable(QString::number(m)));
    }

    void parseSurvivesGarbage()
    {
        QCOMPARE(MessageTable::parse(QByteArray()), 0);
        QCOMPARE(at(121, 1), QString());

        QByteArray junk;
        quint32 x = 12345;
        for (int i = 0; i < 20000; ++i) {
            x = x * 1103515245u + 12345u;
            junk.append(char(x >> 24));
        }
        // Whatever the bytes say, nothing outside the numbered range may be written.
        QtMessageHandler old = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        const int n = MessageTable::parse(junk);
        qInstallMessageHandler(old);
        QVERIFY(n >= -1);
        for (int m = MessageTable::kMessageCount; m < 2048; ++m)
            QVERIFY(row(m).join(QString()).isEmpty());
    }

private:
    int m_savedLan = 0;
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
