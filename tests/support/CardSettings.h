// A settings file for the real program: a type C reader with ID 07 on
// `port`, a comma and Enter after each card, a held card once (kHeldCardOnce),
// and `more`. Readable and writable by every user, as is the port, for a
// program run as a session's own user.
#pragma once

#include "support/TestFiles.h"

#include <sys/stat.h>

inline QString writeCardSettings(const QString& path, const QString& port,
                                 const QList<QPair<QString, QVariant>>& more = {})
{
    writeSettingsFile(path,
                      QList<QPair<QString, QVariant>>{{"CommName", port},
                                                      {"ReaderType", 2},
                                                      {"ReaderID", 7},
                                                      {"AddDown", "-1"},
                                                      {"AddReturn", "-1"},
                                                      {"SameCardTime", kHeldCardOnce}}
                          + more);
    chmod(path.toLocal8Bit().constData(), 0666);
    chmod(port.toLocal8Bit().constData(), 0666);
    return path;
}
