// The per-user private temporary folder that holds the unpacked pages and the browser cache.
#pragma once

#include <QString>

// A folder owned by the current user with mode 0700, created on first use: "tarquilmervane-<uid>" below
// the system temporary folder. When that name exists as anything else (a link, a file, another user's
// folder) it is never used; a fresh folder with a random suffix is made instead. Computed once per
// process; "" when nothing could be made. No trailing "/". The main window unpacks the pages into it;
// the start-up hands it to the browser runtime for its cache.
QString privateTempPath();

// The same rule below the given base folder, without caching.
QString privateTempPathIn(const QString& base, const QString& name);

// The folder at path, made with mode 0700 when it is missing, when it is a real folder (not a link)
// owned by the current user; a wider mode is narrowed to 0700. "" for anything else.
QString privateFolderAt(const QString& path);
