// Replacing files in place.
#pragma once

#include <QString>

// Renames from to to, replacing a file at to in one step.
bool replaceFile(const QString& from, const QString& to);
