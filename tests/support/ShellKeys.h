// The shell's keys a registration opens or creates on its way to its handlers and to the list
// of approved shell extensions. A test that registers the server takes a snapshot first and
// restores it after, so the prefix keeps the shell keys it had.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The Recycle Bin's class below HKEY_CLASSES_ROOT, whose menu holds a handler of the server.
constexpr char RecycleBinKey[] = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";

// Below HKEY_CLASSES_ROOT, parents first.
const std::vector<std::string>& ShellHandlerParentKeys();

// The list of approved shell extensions below HKEY_LOCAL_MACHINE: a value named for each class,
// in the shell's own key, which is shared with every other extension.
constexpr char ApprovedExtensionsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
// Below HKEY_LOCAL_MACHINE, parents first: the approved list and the key that holds it.
const std::vector<std::string>& ApprovedListKeys();

class ShellKeysSnapshot
{
public:
    // Remembers which of the keys exist now, in one view of the registry (0, KEY_WOW64_64KEY
    // or KEY_WOW64_32KEY).
    static ShellKeysSnapshot Take(REGSAM view = 0);
    // Removes again, children first, the keys that did not exist and are now left empty.
    void Restore() const;

private:
    REGSAM view = 0;
    std::vector<bool> existed;
};
