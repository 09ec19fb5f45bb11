// The program folder (the application directory) and the paths that pages name below it.
#pragma once

#include <QString>

// The program folder with its trailing "/"; "" until the application sets it.
void setAppDirPath(const QString& path);
const QString& appDirPath();
// appDirPath() + relative when that path lies below the application directory (after "." and ".."
// are resolved), else "": pages name files with such relative paths.
QString pathInAppDir(const QString& relative);
// Whether the "file:" address of the application directory's path followed by url names a file
// below the directory, read as a browser reads it: the query and fragment are no part of the path,
// a backslash separates as a slash does and escapes are decoded. url is joined to the directory's
// path without a separator, so it must begin with one.
bool pageInAppDir(const QString& url);
