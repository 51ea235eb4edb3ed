// A temporary folder of the test's own inside the Wine prefix, removed with everything in it.
#pragma once

#include "TestOwners.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

class TempFolder
{
public:
    // In the prefix's temporary folder, or in `base` (such as "T:", the build's scratch drive).
    TempFolder();
    explicit TempFolder(std::string base);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "\\" + name; }

private:
    std::string path;
};

// `size` bytes that differ from seed to seed, to tell one file's contents from another's.
std::vector<unsigned char> Pattern(size_t size, unsigned char seed);
void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::vector<unsigned char> ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// Names of the entries of a folder, without "." and "..", sorted.
std::vector<std::string> ListFolder(const std::string& path);
void MakeFolder(const std::string& path);
void RemoveTree(const std::string& path);
// The file opened for reading and shared with nobody, as another program can hold it while it
// lives; invalid when it cannot be opened.
UniqueHandle HoldUnshared(const std::string& path);

// Paths outside the code page or past the narrow calls' limit are made, read and removed with the
// wide calls through the long-path prefix, which takes every name as it stands.
std::wstring LongPath(const std::wstring& path);
std::wstring LongPath(const std::string& path);
void WriteWide(const std::wstring& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadWide(const std::wstring& path);
bool ExistsWide(const std::wstring& path);
void MakeWideFolder(const std::wstring& path);
// Names of the entries of a folder, without "." and "..", sorted.
std::vector<std::wstring> ListWideFolder(const std::wstring& path);
void RemoveWideTree(const std::wstring& path);

// Every file and folder below `path` (names relative to it) with the bytes of each file, to tell
// whether anything in a tree changed.
using TreeSnapshot = std::map<std::wstring, std::vector<unsigned char>>;
TreeSnapshot SnapshotTree(const std::wstring& path);
// The entries of a snapshot that are not below `inside` (relative, ending in "\").
TreeSnapshot Outside(const TreeSnapshot& all, const std::wstring& inside);

// "..", then U+FF3C, U+FF0F, U+2215 or U+2216: Windows' narrow calls best-fit map each to "\"
// or "/", so a name that begins so, once mapped, names an entry beside its folder.
extern const wchar_t* const SeparatorLookAlikes[4];
// Beside `selected`, a folder of `top`, what each look-alike would name once best-fit mapped: a
// file "x" and a folder "outside" holding "kept.bin"; inside `selected`, a file and a folder
// (holding "inner.bin") under each look-alike name.
void PlantSeparatorLookAlikes(const std::wstring& top, const std::wstring& selected);

// The short path the volume gives for a full path; empty when it gives none that fits MAX_PATH.
std::wstring VolumeShortPath(const std::wstring& path);

// Wine keeps the Recycle Bin in the XDG trash. The project's scripts point XDG_DATA_HOME at a
// folder of the build ending in "/xdg-data"; any other, or none, is a person's own bin, which no
// test may put anything in or walk. The Unix path of the build's folder, or nothing.
std::optional<std::string> ProjectDataHome();
