// Folders of a test process's own in place of the user's shared ones: the system temporary folder
// (the program's private folder with the unpacked pages and the browser cache) and the user's
// runtime folder (the single-instance server). Processes with different folders never meet; a
// program started by the test with the same environment meets the test's own program.
#pragma once

#include <cstdlib>
#include <string>

namespace test_support {

// Points both at folder, which must exist and be the current user's alone (mode 0700).
inline void useProcessFolders(const std::string& folder)
{
    setenv("TMPDIR", folder.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

// Makes a fresh folder "/tmp/<prefix>-XXXXXX" (mode 0700) and points both at it. Answers its path,
// "" when it could not be made.
inline std::string useFreshProcessFolders(const char* prefix)
{
    std::string folder = std::string("/tmp/") + prefix + "-XXXXXX";
    if (!mkdtemp(&folder[0]))
        return std::string();
    useProcessFolders(folder);
    return folder;
}

} // namespace test_support
