// Writing a file so that it is either the old one or the whole new one,
// whatever happens meanwhile. Unix only; names are the system's bytes.
#pragma once

#include <QByteArray>
#include <optional>
#include <sys/types.h>

// Creates the folder and the ones above it, as mkdir -p does.
bool makeFolders(const QByteArray& folder);

// Writes `text` under a new name in `folder`, then renames it over `base`.
// A replaced file keeps `keepMode`; a new one gets the usual mode.
bool replaceFile(const QByteArray& folder, const QByteArray& base, const QByteArray& text,
                 std::optional<mode_t> keepMode);
