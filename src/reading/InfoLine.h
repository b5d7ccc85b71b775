// A line of the info log as the reader side reports it: a row of the
// language table and what follows it, so that the window shows it in the
// language it has when the line arrives.
#pragma once

#include "settings/LanguageTable.h"

#include <QMetaType>
#include <QString>

struct InfoLine {
    Text key = Text::Count;  // Count: no row, the line is `rest` alone
    QString rest;            // arguments and the fixed texts around them

    QString render(int language) const
    {
        return key == Text::Count ? rest : LanguageTable(key, language) + rest;
    }
    bool isEmpty() const { return key == Text::Count && rest.isEmpty(); }
    bool operator==(const InfoLine& o) const { return key == o.key && rest == o.rest; }
};

Q_DECLARE_METATYPE(InfoLine)
