// Whether a path lies inside a folder, in two ways: by its text alone, or by where it really
// leads once links are followed.
//
// Both ways:
// - an empty path or folder has nothing inside;
// - "." parts, ".." parts and doubled separators are resolved before the comparison;
// - a sibling whose name begins with the folder's name ("/a/bc" for "/a/b") is outside;
// - the file system's root folder holds every other absolute path.
#pragma once

#include <QString>

namespace path_containment {

// ---- By text: no file system access, links are names like any other.
//
// Both texts are cleaned (QDir::cleanPath: ".." removes the name before it, whatever that name
// leads to) and compared as they are: a relative path is inside a relative folder only. The folder
// itself is not inside. A trailing separator is cleaned away.

// The part of the cleaned path below the cleaned folder, without the separator between them; ""
// when the path is not below the folder. With Qt::CaseInsensitive both are lowered first
// (QString::toLower) and the part comes from the lowered path.
QString relativeByText(const QString& path, const QString& folder, Qt::CaseSensitivity cs = Qt::CaseSensitive);
// Whether the cleaned path lies below the cleaned folder.
bool insideByText(const QString& path, const QString& folder, Qt::CaseSensitivity cs = Qt::CaseSensitive);

// ---- By resolved links: the real paths (QFileInfo::canonicalFilePath: links followed, "." and
// ".." resolved as the file system resolves them) are compared, case as the file system gives it.
// A relative path is read from the current folder. A folder that does not exist holds nothing. A
// trailing separator stays part of the name, which then exists as a folder only.

// Whether the folder itself counts as inside.
enum class Itself { Outside, Inside };
// How a path that does not exist (a dangling link among them) is read.
enum class Missing {
    Outside, // it is not inside
    // Its nearest existing ancestor, found by text (the name given cut back at separators; "." or
    // "/" once no name is left), is checked in its place: where a file or folder made there
    // would land, links on the way followed.
    NearestExisting,
};

// The real path of path (of its nearest existing ancestor, for a missing path read so) when that
// lies inside the real folder; "" otherwise.
QString realPathInside(const QString& path, const QString& folder, Itself itself, Missing missing = Missing::Outside);
// Whether realPathInside gives a path.
bool insideResolved(const QString& path, const QString& folder, Itself itself, Missing missing = Missing::Outside);

} // namespace path_containment
