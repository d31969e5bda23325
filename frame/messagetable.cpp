#include "frame/messagetable.h"

#include "frame/globals.h"

#include <QFile>
#include <QList>
#include <QTextCodec>
#include <QVector>
#include <QtDebug>

// The resource lives in the static library, so its registration must be
// pulled in explicitly; Q_INIT_RESOURCE has to be used outside any namespace.
static void initMessageResource()
{
    Q_INIT_RESOURCE(messages);
}

namespace {

// Undoes the backslash escapes of one field. False on a dangling backslash or
// an unknown escape, so that a typo in the data shows up as a bad line instead
// of a silently different text.
bool unescape(const QString& in, QString* out)
{
    out->clear();
    out->reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        const QChar c = in.at(i);
        if (c != QLatin1Char('\\')) {
            out->append(c);
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in.at(i).unicode()) {
        case 'n': out->append(QLatin1Char('\n')); break;
        case 'r': out->append(QLatin1Char('\r')); break;
        case 't': out->append(QLatin1Char('\t')); break;
        case '\\': out->append(QLatin1Char('\\')); break;
        default: return false;
        }
    }
    return true;
}

} // namespace

int MessageTable::parse(const QByteArray& data)
{
    for (QString& s : gaLanStr)
        s.clear();

    QVector<bool> seen(kMessageCount, false);
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    int stored = 0;
    bool bad = false;

    const QList<QByteArray> lines = data.split('\n');
    for (int idx = 0; idx < lines.size(); ++idx) {
        const int lineNo = idx + 1;
        QByteArray raw = lines.at(idx);
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (raw.trimmed().isEmpty() || raw.startsWith('#'))
            continue;

        QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
        const QString line = utf8->toUnicode(raw.constData(), raw.size(), &state);
        if (state.invalidChars > 0 || state.remainingChars > 0) {
            qWarning("message table line %d: not valid UTF-8, skipped", lineNo);
            bad = true;
            continue;
        }

        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() != 1 + kLanguages) {
            qWarning("message table line %d: %d fields instead of %d, skipped", lineNo,
                     fields.size(), 1 + kLanguages);
            bad = true;
            continue;
        }

        bool isNumber = false;
        const QString numText = fields.at(0);
        const int m = numText.toInt(&isNumber, 10);
        // toInt accepts surrounding blanks and a sign; the data has neither.
        if (!isNumber || numText.isEmpty() || !numText.at(0).isDigit()
            || !numText.at(numText.size() - 1).isDigit()) {
            qWarning("message table line %d: \"%s\" is not a message number, skipped", lineNo,
                     qUtf8Printable(numText));
            bad = true;
            continue;
        }
        if (m < 0 || m >= kMessageCount) {
            qWarning("message table line %d: message %d outside 0..%d, skipped", lineNo, m,
                     kMessageCount - 1);
            bad = true;
            continue;
        }
        if (seen.at(m)) {
            qWarning("message table line %d: message %d given twice, the first one kept", lineNo,
                     m);
            bad = true;
            continue;
        }

        QString texts[kLanguages];
        bool escapesOk = true;
        for (int l = 0; l < kLanguages && escapesOk; ++l)
            escapesOk = unescape(fields.at(1 + l), &texts[l]);
        if (!escapesOk) {
            qWarning("message table line %d: bad backslash escape in message %d, skipped", lineNo,
                     m);
            bad = true;
            continue;
        }

        seen[m] = true;
        for (int l = 0; l < kLanguages; ++l)
            gaLanStr[kLanguages * m + l] = texts[l];
        ++stored;
    }
    return bad ? -1 : stored;
}

int MessageTable::load()
{
    initMessageResource();
    QFile f(QString::fromLatin1(kResourcePath));
    if (!f.open(QIODevice::ReadOnly)) {
        for (QString& s : gaLanStr)
            s.clear();
        qWarning("message table %s cannot be read: %s", kResourcePath,
                 qUtf8Printable(f.errorString()));
        return -1;
    }
    return parse(f.readAll());
}

QString MessageTable::languageName(int lan)
{
    static const char* const names[kLanguages] = {"Simplified Chinese", "English", "Traditional Chinese", "Japanese"};
    return lan >= 0 && lan < kLanguages ? QString::fromLatin1(names[lan]) : QString();
}

QString MessageTable::text(int m)
{
    if (m < 0 || m >= kLanStrCount / kLanguages || gLan < 0 || gLan >= kLanguages)
        return QString();
    return gaLanStr[kLanguages * m + gLan];
}
