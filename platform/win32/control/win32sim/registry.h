// Test controls of the simulated registry.
#pragma once

#include "windows.h"

#include <QString>

#include <optional>

namespace win32sim {

// Makes the key (a root key and its path below it, "\\"-separated, letter case ignored) exist, and
// sets which access an open may ask for; access 0 makes every open fail with ERROR_ACCESS_DENIED.
void createRegistryKey(HKEY root, const QString& path, REGSAM grantedAccess);
// Removes every key and value.
void clearRegistry();
// The string value under the key, or nothing.
std::optional<QString> registryString(HKEY root, const QString& path, const QString& valueName);
// Keys opened and not yet closed.
int openRegistryKeys();

} // namespace win32sim
