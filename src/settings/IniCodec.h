// The small INI dialect of the settings file, read and written by one codec:
// lines, sections, keys and values are split and unescaped as Qt's INI
// settings files do, so every file written by this program or by QSettings
// reads the same, and what counts as a key is decided here alone, for
// reading and for rewriting a file alike.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

struct IniLine {
    enum Kind {
        Section,  // "[name]"; without its ']' the rest of the line names it
        Value,    // "key=value"
        Broken,   // neither: a line without '=', which counts for nothing
    } kind
        = Broken;
    qsizetype start = 0;   // the first byte of the line in the text
    qsizetype end = 0;     // past its last byte and the line break after it
    QString name;          // the section or the key, unescaped
    bool general = false;  // a Section named General (any case): the
                           // section of the keys before any section
    QByteArray rawValue;   // a Value's text after '=', still escaped
};

// Every line of `text`, with comments and blank lines left between them. A
// UTF-8 byte order mark at the start is skipped, as Qt skips it.
QList<IniLine> splitIni(const QByteArray& text);

// Where the lines of `text` start: past a byte order mark.
qsizetype iniTextStart(const QByteArray& text);

// A value's text: quotes and escapes resolved, and a list (unquoted commas)
// joined back with commas. Nothing when it is a value of another type:
// "@ByteArray(...)", "@Variant(...)" and the other forms Qt writes for
// values that are not text. Bytes that are not UTF-8 are kept (FileNameBytes.h).
std::optional<QString> iniValueText(const QByteArray& rawValue);

// `text` written so that iniValueText() gives it back exactly.
QByteArray iniValue(const QString& text);
