#include "TestFiles.h"

#include "common/TextConversion.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <stdexcept>

TempFolder::TempFolder()
{
    static std::atomic<int> counter{0};
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string base(temp);
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
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

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::vector<unsigned char> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    unsigned char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE listing = ::FindFirstFileA((path + "\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileA(listing, &entry));
    ::FindClose(listing);
    std::sort(names.begin(), names.end());
    return names;
}

void MakeFolder(const std::string& path)
{
    if (!::CreateDirectoryA(path.c_str(), nullptr))
        throw std::runtime_error("cannot create " + path);
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
    HANDLE file = ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + NarrowWithSubstitutes(path));
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::vector<unsigned char> ReadWide(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::vector<unsigned char> bytes(::GetFileSize(file, nullptr));
    DWORD read = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(file);
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
    HANDLE listing = ::FindFirstFileW((LongPath(path) + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
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
