#include "settings/IniCodec.h"

#include "text/FileNameBytes.h"

#include <QStringList>

namespace {

bool isLineSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The next logical line from `pos`: [start, end) and the first '=' outside
// quotes. Blank lines, leading blanks and ';' comment lines are skipped; a
// quoted value and an escaped line break run on over lines; an unquoted ';'
// later in a line ends it.
bool nextLine(const QByteArray& data, qsizetype& pos, qsizetype& start, qsizetype& end, qsizetype& equals)
{
    const qsizetype size = data.size();
    start = pos;
    while (start < size && isLineSpace(data.at(start)))
        ++start;
    qsizetype i = start;
    equals = -1;
    bool inQuotes = false;
    bool done = false;
    while (i < size && !done) {
        const char c = data.at(i++);
        switch (c) {
        case '=':
            if (!inQuotes && equals < 0)
                equals = i - 1;
            break;
        case '\n':
        case '\r':
            if (i == start + 1)
                ++start;
            else if (!inQuotes)
                done = true;
            break;
        case '\\':
            // The next character is escaped; \r\n and \n\r count as one.
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size && ((escaped == '\n' && data.at(i) == '\r') || (escaped == '\r' && data.at(i) == '\n')))
                    ++i;
            }
            break;
        case '"': inQuotes = !inQuotes; break;
        case ';':
            if (i == start + 1) {  // a comment line
                while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < size && isLineSpace(data.at(i)))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                done = true;
            }
            break;
        default: break;
        }
    }
    if (done)
        --i;  // the line ends before the character that ended it
    pos = i;
    end = i;
    return end > start;
}

// The whole physical line around [start, end): the blanks before it, and the
// rest of it (blanks, a trailing comment) with its line break.
void widenToPhysicalLine(const QByteArray& data, IniLine& line)
{
    while (line.start > 0 && (data.at(line.start - 1) == ' ' || data.at(line.start - 1) == '\t'))
        --line.start;
    qsizetype i = line.end;
    while (i < data.size() && data.at(i) != '\n' && data.at(i) != '\r')
        ++i;
    if (i < data.size()) {
        const char first = data.at(i++);
        if (i < data.size() && (data.at(i) == '\n' || data.at(i) == '\r') && data.at(i) != first)
            ++i;
    }
    line.end = i;
}

// A key or section name: UTF-8 with %XX and %UXXXX escapes, '\' for '/'.
QString unescapedKey(const QByteArray& key)
{
    const QString decoded = QString::fromUtf8(key);
    QString result;
    qsizetype i = 0;
    while (i < decoded.size()) {
        const QChar c = decoded.at(i);
        if (c == QLatin1Char('\\')) {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c != QLatin1Char('%') || i == decoded.size() - 1) {
            result += c;
            ++i;
            continue;
        }
        const bool wide = decoded.at(i + 1) == QLatin1Char('U');
        const qsizetype first = i + (wide ? 2 : 1);
        const qsizetype digits = wide ? 4 : 2;
        bool ok = false;
        const ushort value
            = first + digits <= decoded.size() ? QStringView(decoded).mid(first, digits).toUShort(&ok, 16) : 0;
        if (!ok) {
            result += QLatin1Char('%');
            ++i;
            continue;
        }
        result += QChar(value);
        i = first + digits;
    }
    return result;
}

// A section line's name, and whether it is [General]. "[]" and "[ ]" are
// sections of their own, named "", as Qt reads them.
void nameSection(const QByteArray& inside, IniLine& line)
{
    const QByteArray name = inside.trimmed();
    line.general = name.compare("general", Qt::CaseInsensitive) == 0;
    // "[%General]" is a section really named General.
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        line.name = QString::fromLatin1(name.mid(1));
    else if (!line.general)
        line.name = unescapedKey(name);
}

// The parts of a value: quotes and escapes resolved, split at unquoted
// commas. Blanks around an unquoted part are dropped.
QStringList unescapedParts(const QByteArray& raw)
{
    QStringList parts;
    QString current;
    QByteArray plain;  // bytes not yet decoded, so that a character's bytes stay together
    const auto flush = [&] {
        current += fileNameFromBytes(plain);
        plain.clear();
    };
    const auto chopBlanks = [&](qsizetype limit) {
        flush();
        qsizetype n = current.size();
        while (n > limit && (current.at(n - 1) == QLatin1Char(' ') || current.at(n - 1) == QLatin1Char('\t')))
            --n;
        current.truncate(n);
    };
    const qsizetype size = raw.size();
    qsizetype i = 0;
    bool inQuotes = false;
    bool quoted = false;  // the current part had quotes: its blanks stay
    qsizetype chopLimit = 0;
    bool chopAtEnd = true;  // not after a lone '\' or "\x" at the very end, as Qt reads it
    const auto skipBlanks = [&] {
        while (i < size && (raw.at(i) == ' ' || raw.at(i) == '\t'))
            ++i;
        flush();
        chopLimit = current.size();
    };
    skipBlanks();
    while (i < size) {
        const char c = raw.at(i);
        if (c == '\\') {
            flush();
            if (++i >= size) {
                chopAtEnd = false;
                break;
            }
            const char e = raw.at(i++);
            switch (e) {
            case 'a': current += QLatin1Char('\a'); break;
            case 'b': current += QLatin1Char('\b'); break;
            case 'f': current += QLatin1Char('\f'); break;
            case 'n': current += QLatin1Char('\n'); break;
            case 'r': current += QLatin1Char('\r'); break;
            case 't': current += QLatin1Char('\t'); break;
            case 'v': current += QLatin1Char('\v'); break;
            case '"':
            case '?':
            case '\'':
            case '\\': current += QLatin1Char(e); break;
            case 'x':
                if (i == size)
                    chopAtEnd = false;
                if (i < size && hexDigit(raw.at(i)) >= 0) {
                    char16_t value = 0;
                    while (i < size && hexDigit(raw.at(i)) >= 0)
                        value = char16_t(value * 16 + hexDigit(raw.at(i++)));
                    current += QChar(value);
                }
                break;
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7': {
                char16_t value = char16_t(e - '0');
                while (i < size && raw.at(i) >= '0' && raw.at(i) <= '7')
                    value = char16_t(value * 8 + (raw.at(i++) - '0'));
                current += QChar(value);
                break;
            }
            case '\n':
            case '\r':  // an escaped line break stands for nothing
                if (i < size && (raw.at(i) == '\n' || raw.at(i) == '\r') && raw.at(i) != e)
                    ++i;
                break;
            default:  // an unknown escape stands for nothing
                break;
            }
            // Blanks that came from an escape are kept.
            chopLimit = current.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                flush();
                skipBlanks();
            }
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                chopBlanks(chopLimit);
            flush();
            parts << current;
            current.clear();
            quoted = false;
            ++i;
            skipBlanks();
        } else {
            plain += c;
            ++i;
        }
    }
    if (!quoted && chopAtEnd)
        chopBlanks(chopLimit);
    flush();
    parts << current;
    return parts;
}

// Text as a part of a value, or nothing for a value of another type. Qt
// writes other types as "@Type(...)", and a text starting with '@' with a
// second '@' before it.
std::optional<QString> partText(const QString& part)
{
    if (!part.startsWith(QLatin1Char('@')))
        return part;
    if (part.startsWith(QLatin1String("@@")))
        return part.mid(1);
    if (part.endsWith(QLatin1Char(')'))) {
        if (part.startsWith(QLatin1String("@String(")))
            return part.mid(8).chopped(1);
        for (const char* type : {"@ByteArray(", "@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("}) {
            if (part.startsWith(QLatin1String(type)))
                return std::nullopt;
        }
        if (part == QLatin1String("@Invalid()"))
            return std::nullopt;
    }
    return part;
}

}  // namespace

qsizetype iniTextStart(const QByteArray& text)
{
    return text.startsWith("\xef\xbb\xbf") ? 3 : 0;
}

QList<IniLine> splitIni(const QByteArray& text)
{
    QList<IniLine> lines;
    qsizetype pos = iniTextStart(text);
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;
    while (nextLine(text, pos, start, end, equals)) {
        IniLine line;
        line.start = start;
        line.end = end;
        if (text.at(start) == '[') {
            qsizetype close = text.indexOf(']', start);
            if (close < 0 || close >= end)
                close = end;
            line.kind = IniLine::Section;
            nameSection(text.mid(start + 1, close - start - 1), line);
        } else if (equals >= 0) {
            line.kind = IniLine::Value;
            line.name = unescapedKey(text.mid(start, equals - start).trimmed());
            line.rawValue = text.mid(equals + 1, end - equals - 1);
        }
        widenToPhysicalLine(text, line);
        lines << line;
    }
    return lines;
}

std::optional<QString> iniValueText(const QByteArray& rawValue)
{
    const QStringList parts = unescapedParts(rawValue);
    QStringList texts;
    for (const QString& part : parts) {
        const auto text = partText(part);
        if (!text)
            return std::nullopt;
        texts << *text;
    }
    return texts.join(QLatin1Char(','));
}

QByteArray iniValue(const QString& value)
{
    const QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    QByteArray out;
    QString plain;  // characters written as they are, in UTF-8 (kept bytes as themselves)
    const auto flush = [&] {
        out += fileNameBytes(plain);
        plain.clear();
    };
    // Kept bytes go out as themselves, unless they would read back as another
    // character (made by escapes, they can form valid UTF-8).
    const bool bytesComeBack = fileNameFromBytes(fileNameBytes(text)) == text;
    bool escapeHexDigit = false;  // a \x escape takes every hex digit after it
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar qc = text.at(i);
        const char16_t c = qc.unicode();
        const bool hex = c < 0x80 && hexDigit(char(c)) >= 0;
        if (escapeHexDigit && hex) {
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        escapeHexDigit = false;
        if (qc.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            plain += qc;
            plain += text.at(++i);
            continue;
        }
        // A lone surrogate has no UTF-8 form, unless it stands for a kept
        // byte. A byte order mark at the start of a part would be lost to a
        // reader that decodes each part on its own.
        const bool keptByte = c >= 0xDC80 && c <= 0xDCFF && bytesComeBack;
        if (c >= 0x20 && c != 0x7F && c != '"' && c != '\\' && c != 0xFEFF && (!qc.isSurrogate() || keptByte)) {
            plain += qc;
            continue;
        }
        flush();
        switch (c) {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default: out += "\\x" + QByteArray::number(c, 16); escapeHexDigit = true;
        }
    }
    flush();
    const bool quoted = out.isEmpty() || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char(';'))
        || text.contains(QLatin1Char('=')) || text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
    return quoted ? '"' + out + '"' : out;
}
