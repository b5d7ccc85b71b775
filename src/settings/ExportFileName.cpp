#include "settings/ExportFileName.h"

#include <QDir>

QString exportFileWithExtension(const QString& chosen)
{
    if (chosen.isEmpty() || chosen.toUpper().contains(QLatin1String("TXT")))
        return chosen;
    return chosen + QStringLiteral(".txt");
}

bool createFoldersOf(const QString& path)
{
    const QString file = QDir::fromNativeSeparators(path);
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return false;
    const QString folder = slash == 0 ? QStringLiteral("/") : file.left(slash);
    return QDir().mkpath(folder);
}
