// How the stored values read and write: in their stored order until one is
// of the wrong type (from there on every value keeps what the record held, as
// a missing one does), booleans as the texts "-1" and "0", and a failed write
// ends the writing. A store brings only what is its own: where its values
// are, and what makes a text or an integer of its kind. The registry's
// Qt-free code (settings/windows/WinSettings.cpp) follows the same rules.
#pragma once

#include "settings/SettingsFields.h"

#include <QString>
#include <optional>

// What a store holds under a value's name, as the kind of that value reads it.
enum class Stored {
    Missing,
    Ok,         // read, and of its kind
    WrongType,  // there, but not of its kind: the reading ends there
};

// True for a non-zero integer or "true" in any case (blanks around either
// aside), false for any other text.
bool booleanOf(const QString& text);

// "-1" for true, "0" for false.
QString booleanText(bool value);

// An integer written as text: an optional sign and decimal digits, blanks
// around them aside; beyond the range of int it saturates. Nothing for any
// other text.
std::optional<int> integerOf(const QString& text);

// `Source` has text(name, QString&), integer(name, int&) and
// booleanText(name, QString&), each giving a Stored and setting its value
// only when it gives Stored::Ok.
template <typename Source> class StoredValueReader {
public:
    explicit StoredValueReader(Source& source) : source_(source) { }

    void text(const char* name, QString& out)
    {
        read(name, [&] { return source_.text(name, out); });
    }
    void integer(const char* name, int& out)
    {
        read(name, [&] { return source_.integer(name, out); });
    }
    void boolean(const char* name, bool& out)
    {
        QString text;
        if (read(name, [&] { return source_.booleanText(name, text); }))
            out = booleanOf(text);
    }

    // The value of the wrong type; empty while there was none.
    const QString& stoppedAt() const { return stoppedAt_; }

private:
    template <typename ReadValue> bool read(const char* name, ReadValue readValue)
    {
        if (!stoppedAt_.isEmpty())
            return false;
        const Stored stored = readValue();
        if (stored == Stored::WrongType)
            stoppedAt_ = QLatin1String(name);
        return stored == Stored::Ok;
    }

    Source& source_;
    QString stoppedAt_;
};

// `Sink` has text(name, const QString&) and integer(name, int), each
// giving false when the value could not be written.
template <typename Sink> class StoredValueWriter {
public:
    explicit StoredValueWriter(Sink& sink) : sink_(sink) { }

    void text(const char* name, const QString& value) { ok_ = ok_ && sink_.text(name, value); }
    void integer(const char* name, int value) { ok_ = ok_ && sink_.integer(name, value); }
    void boolean(const char* name, bool value) { text(name, booleanText(value)); }

    // Every value so far was written.
    bool ok() const { return ok_; }

private:
    Sink& sink_;
    bool ok_ = true;
};
