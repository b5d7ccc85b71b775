// Entries that another user left in a folder open to everyone. In a sticky
// folder that anyone may write to (such as /tmp), anyone can put a file or a
// link under a name this program is about to use: a settings file that
// names the card log, a card log that collects the cards. The kernel refuses
// to follow such links and to open such files for writing only where
// fs.protected_symlinks and fs.protected_regular are on; the program refuses
// them always. There, an entry is used only when it belongs to this user or
// to the folder's owner. Unix only.
#pragma once

#include <QByteArray>

#include <sys/stat.h>

// True when `entry` (its lstat() or fstat() information), named by `path`,
// lies in a shared sticky folder and belongs to neither this user nor the
// folder's owner.
bool isStrangersEntry(const QByteArray& path, const struct stat& entry);

// True when `path` is a stranger's link, or leads to a stranger's file.
// False for a path that names nothing.
bool leadsToStrangersFile(const QByteArray& path);
