#include "settings/ExportFileName.h"

#include <QDir>

#ifdef Q_OS_UNIX
#include "settings/ReplaceFile.h"
#include "text/FileNameBytes.h"
#endif

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
#ifdef Q_OS_UNIX
    // The folder's own bytes, also where they are not UTF-8.
    return makeFolders(fileNameBytes(absoluteFileName(folder)));
#else
    return QDir().mkpath(folder);
#endif
}
