#pragma once
#include <QByteArray>
#include <QString>

// The four-language message table in gaLanStr (frame/globals.h).
//
// The texts live in messages.txt, compiled in as the resource
// ":/messages/messages.txt". One message per line:
//   <number> TAB <Simplified Chinese> TAB <English> TAB <Traditional Chinese> TAB <Japanese>
// Texts use backslash escapes: \n line feed, \r carriage return, \t tab,
// \\ backslash. Lines starting with '#' and blank lines are ignored; an empty
// field is an empty text.
class MessageTable
{
public:
    // Messages 0 .. kMessageCount - 1 may be numbered (the first table filled
    // 0 .. 759; later messages take numbers from 761 on, up to 862 today); every other element
    // of gaLanStr stays empty.
    static constexpr int kMessageCount = 1024;
    static constexpr int kLanguages = 4;
    static constexpr const char* kResourcePath = ":/messages/messages.txt";

    // Fills gaLanStr from the compiled-in data. Returns the number of
    // messages read, or -1 when the data is missing or has a bad line.
    // Must run before any other thread reads the table.
    static int load();

    // Clears gaLanStr and fills it from `data` (the format above). Every good
    // line is stored even when others are bad; a bad line is skipped with a
    // warning naming its line number and never touches another message. The
    // first line of a number wins over later duplicates. Returns the number of
    // messages stored, or -1 when any line was bad.
    static int parse(const QByteArray& data);

    // Message m in the current language; empty for a number or language
    // outside the table. Plain gaLanStr[4 * m + gLan] stays valid too.
    static QString text(int m);

    // The English name of a language (0 Simplified Chinese .. 3 Japanese),
    // as the console says it; empty outside the four.
    static QString languageName(int lan);
};
