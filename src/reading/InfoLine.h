// A line of the info log as the reader side reports it: a row of the
// language table and what follows it, so that the window shows it in the
// language it has when the line arrives.
#pragma once

#include "settings/LanguageTable.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <utility>

struct InfoLine {
    InfoLine() = default;
    InfoLine(Text key, QString rest = {}, QStringList args = {})
        : key(key), rest(std::move(rest)), args(std::move(args))
    {
    }

    Text key = Text::Count;  // Count: no row, the line is `rest` alone
    QString rest;            // what follows the row's text: fixed texts and values
    QStringList args;        // fill the row's %1, %2, %3

    QString render(int language) const
    {
        if (key == Text::Count)
            return rest;
        // All at once: a value holding "%1" stays as it is.
        const QString row = LanguageTable(key, language);
        switch (args.size()) {
        case 0: return row + rest;
        case 1: return row.arg(args[0]) + rest;
        case 2: return row.arg(args[0], args[1]) + rest;
        default: return row.arg(args[0], args[1], args[2]) + rest;
        }
    }
    bool operator==(const InfoLine& o) const { return key == o.key && rest == o.rest && args == o.args; }
};

Q_DECLARE_METATYPE(InfoLine)
