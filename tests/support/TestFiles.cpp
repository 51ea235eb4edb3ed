#include "TestFiles.h"

#include "common/TextConversion.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>

namespace {

std::string TemporaryFolder()
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string base(temp);
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    return base;
}

} // namespace

TempFolder::TempFolder() : TempFolder(TemporaryFolder()) {}

TempFolder::TempFolder(std::string base)
{
    static std::atomic<int> counter{0};
    path = base + "\\orlenwick-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    RemoveTree(path);
    if (!::CreateDirectoryA(path.c_str(), nullptr))
        throw std::runtime_error("cannot create " + path);
}

TempFolder::~TempFolder()
{
    RemoveTree(path);
}

std::vector<unsigned char> Pattern(size_t size, unsigned char seed)
{
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 13);
    return bytes;
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot write " + path);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const UniqueFind listing(::FindFirstFileA((path + "\\*").c_str(), &entry));
    if (!listing)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileA(listing.Get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

void MakeFolder(const std::string& path)
{
    if (!::CreateDirectoryA(path.c_str(), nullptr))
        throw std::runtime_error("cannot create " + path);
}

UniqueHandle HoldUnshared(const std::string& path)
{
    return UniqueHandle(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

void RemoveTree(const std::string& path)
{
    // Through the wide calls: a narrow listing would best-fit map the names the code page lacks,
    // and a look-alike of "..\" would lead the clean-up out of the tree.
    RemoveWideTree(LongPath(path));
}

std::wstring LongPath(const std::wstring& path)
{
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

std::wstring LongPath(const std::string& path)
{
    return LongPath(Widen(path));
}

void WriteWide(const std::wstring& path, const std::vector<unsigned char>& bytes)
{
    const UniqueHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error("cannot create " + NarrowWithSubstitutes(path));
    DWORD written = 0;
    ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::vector<unsigned char> ReadWide(const std::wstring& path)
{
    const UniqueHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return {};
    std::vector<unsigned char> bytes(::GetFileSize(file.Get(), nullptr));
    DWORD read = 0;
    ::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

bool ExistsWide(const std::wstring& path)
{
    return ::GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeWideFolder(const std::wstring& path)
{
    if (!::CreateDirectoryW(LongPath(path).c_str(), nullptr))
        throw std::runtime_error("cannot create " + NarrowWithSubstitutes(path));
}

std::vector<std::wstring> ListWideFolder(const std::wstring& path)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const UniqueFind listing(::FindFirstFileW((LongPath(path) + L"\\*").c_str(), &entry));
    if (!listing)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(listing.Get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveWideTree(const std::wstring& path)
{
    const std::wstring literal = LongPath(path);
    const DWORD attributes = ::GetFileAttributesW(literal.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesW(literal.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW(literal.c_str());
        return;
    }
    for (const std::wstring& name : ListWideFolder(literal))
        RemoveWideTree(literal + L"\\" + name);
    ::RemoveDirectoryW(literal.c_str());
}

namespace {

void AddToSnapshot(const std::wstring& root, const std::wstring& relative, TreeSnapshot& snapshot)
{
    for (const std::wstring& name : ListWideFolder(root + relative)) {
        const std::wstring child = relative + L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW((root + child).c_str());
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot[child + L"\\"];
            AddToSnapshot(root, child, snapshot);
        } else {
            snapshot[child] = ReadWide(root + child);
        }
    }
}

} // namespace

TreeSnapshot SnapshotTree(const std::wstring& path)
{
    TreeSnapshot snapshot;
    AddToSnapshot(LongPath(path), L"", snapshot);
    return snapshot;
}

std::optional<std::string> ProjectDataHome()
{
    char dataHome[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("XDG_DATA_HOME", dataHome, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    const std::string path(dataHome, length);
    constexpr std::string_view ownFolder = "/xdg-data";
    if (path.size() <= ownFolder.size() ||
        path.compare(path.size() - ownFolder.size(), ownFolder.size(), ownFolder) != 0)
        return std::nullopt;
    return path;
}

TreeSnapshot Outside(const TreeSnapshot& all, const std::wstring& inside)
{
    TreeSnapshot outside;
    for (const auto& [path, bytes] : all)
        if (path.compare(0, inside.size(), inside) != 0)
            outside[path] = bytes;
    return outside;
}

const wchar_t* const SeparatorLookAlikes[4] = {L"..\xFF3C", L"..\xFF0F", L"..\x2215", L"..\x2216"};

void PlantSeparatorLookAlikes(const std::wstring& top, const std::wstring& selected)
{
    WriteWide(top + L"\\x", Pattern(300, 1));
    MakeWideFolder(top + L"\\outside");
    WriteWide(top + L"\\outside\\kept.bin", Pattern(300, 2));
    unsigned char seed = 10;
    for (const wchar_t* prefix : SeparatorLookAlikes) {
        WriteWide(selected + L"\\" + prefix + L"x", Pattern(300, seed++));
        MakeWideFolder(selected + L"\\" + prefix + L"outside");
        WriteWide(selected + L"\\" + prefix + L"outside\\inner.bin", Pattern(300, seed++));
    }
}

std::wstring VolumeShortPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameW(LongPath(path).c_str(), buffer, MAX_PATH);
    // A length of MAX_PATH or more is the size the path would need: nothing was written.
    std::wstring shortPath(buffer, length < MAX_PATH ? length : 0);
    if (shortPath.rfind(L"\\\\?\\", 0) == 0)
        shortPath.erase(0, 4);
    return shortPath;
}
