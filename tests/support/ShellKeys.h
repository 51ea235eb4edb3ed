// The shell's keys a registration opens or creates on its way to its handlers. A test that
// registers the server takes a snapshot first and restores it after, so the prefix keeps the
// shell keys it had.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Parents first.
const std::vector<std::string>& ShellHandlerParentKeys();

class ShellKeysSnapshot
{
public:
    // Remembers which of the keys exist now, in one view of HKEY_CLASSES_ROOT (0,
    // KEY_WOW64_64KEY or KEY_WOW64_32KEY).
    static ShellKeysSnapshot Take(REGSAM view = 0);
    // Removes again, children first, the keys that did not exist and are now left empty.
    void Restore() const;

private:
    REGSAM view = 0;
    std::vector<bool> existed;
};
