// The shell's keys a registration opens or creates on its way to its handlers. A test that
// registers the server takes a snapshot first and restores it after, so the prefix keeps the
// shell keys it had.
#pragma once

#include <string>
#include <vector>

// Parents first.
const std::vector<std::string>& ShellHandlerParentKeys();

class ShellKeysSnapshot
{
public:
    // Remembers which of the keys exist now.
    static ShellKeysSnapshot Take();
    // Removes again, children first, the keys that did not exist and are now left empty.
    void Restore() const;

private:
    std::vector<bool> existed;
};
