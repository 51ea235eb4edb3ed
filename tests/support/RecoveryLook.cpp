#include "RecoveryLook.h"

#include "ProgramRunner.h"
#include "TestFiles.h"
#include "TestOwners.h"
#include "common/TextConversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr size_t MarkerDigits = 5;

std::string Marker(const std::string& tag, size_t number)
{
    char digits[MarkerDigits + 1] = {};
    std::snprintf(digits, sizeof digits, "%05u", static_cast<unsigned>(number % 100000));
    return "[" + tag + ":" + digits + "]";
}

size_t MarkerLength(const std::string& tag)
{
    return tag.size() + MarkerDigits + 3;
}

bool IsTagCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string MarkedText(const std::string& tag, size_t size)
{
    std::string text;
    text.reserve(size + MarkerLength(tag));
    for (size_t number = 0; text.size() < size; ++number)
        text += Marker(tag, number);
    text.resize(size);
    return text;
}

size_t MarkerCount(const std::string& tag, size_t size)
{
    return size / MarkerLength(tag);
}

std::wstring Named(const std::wstring& part)
{
    return L"R\x00E9sum\x00E9-" + part;
}

std::string Utf8(const std::wstring& text)
{
    return NarrowExactly(text, CP_UTF8).value_or("?");
}

std::wstring LastPart(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

bool WriteMarked(const std::wstring& root, const MarkedContent& content)
{
    const size_t folder = content.Path.find_last_of(L'\\');
    for (size_t at = content.Path.find(L'\\'); at != std::wstring::npos && at <= folder;
         at = content.Path.find(L'\\', at + 1))
        if (!ExistsWide(root + content.Path.substr(0, at)))
            MakeWideFolder(root + content.Path.substr(0, at));
    const std::string text = MarkedText(content.Tag, content.Size);
    const std::vector<unsigned char> bytes(text.begin(), text.end());
    WriteWide(root + content.Path, bytes);
    return ReadWide(root + content.Path) == bytes;
}

std::optional<RawImage> RawImage::Read(const std::string& unixPath)
{
    const std::optional<std::string> bytes = ReadUnixFile(unixPath);
    if (!bytes)
        return std::nullopt;
    RawImage image;
    image.bytes = *bytes;
    return image;
}

std::map<std::string, MarkerFinds> RawImage::Markers() const
{
    std::map<std::string, MarkerFinds> found;
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    for (const char* at = begin; at < end;) {
        const auto* open = static_cast<const char*>(std::memchr(at, '[', end - at));
        if (!open)
            break;
        const char* tagEnd = open + 1;
        while (tagEnd < end && IsTagCharacter(*tagEnd))
            ++tagEnd;
        at = open + 1;
        if (tagEnd == open + 1 || end - tagEnd < static_cast<ptrdiff_t>(MarkerDigits + 2) ||
            *tagEnd != ':' || tagEnd[MarkerDigits + 1] != ']')
            continue;
        size_t number = 0;
        bool digits = true;
        for (size_t i = 1; i <= MarkerDigits && digits; ++i) {
            digits = tagEnd[i] >= '0' && tagEnd[i] <= '9';
            number = number * 10 + static_cast<size_t>(tagEnd[i] - '0');
        }
        if (!digits)
            continue;
        MarkerFinds& finds = found[std::string(open + 1, tagEnd)];
        finds.Numbers.insert(number);
        finds.Offsets.push_back(static_cast<size_t>(open - begin));
    }
    return found;
}

std::vector<size_t> RawImage::Places(const std::string& part) const
{
    std::vector<size_t> places;
    if (part.empty())
        return places;
    for (size_t at = bytes.find(part); at != std::string::npos; at = bytes.find(part, at + 1))
        places.push_back(at);
    return places;
}

std::string RawImage::Region(size_t offset) const
{
    auto startsWith = [&](size_t unit, const char* signature) {
        return bytes.compare(offset - offset % unit, 4, signature) == 0;
    };
    if (startsWith(1024, "FILE"))
        return "file record";
    if (startsWith(4096, "INDX"))
        return "index block";
    return "clusters";
}

bool RawImage::RecordInUse(size_t offset) const
{
    // The flags, 16 bits at 0x16 of the record: 1 is in use.
    const size_t flags = offset - offset % 1024 + 0x16;
    return flags + 1 < bytes.size() && (static_cast<unsigned char>(bytes[flags]) & 0x01);
}

std::string RawImage::Regions(const std::vector<size_t>& offsets) const
{
    std::vector<std::string> regions;
    for (const size_t offset : offsets) {
        const std::string region = Region(offset);
        if (std::find(regions.begin(), regions.end(), region) == regions.end())
            regions.push_back(region);
    }
    std::string text;
    for (const std::string& region : regions)
        text += (text.empty() ? "" : ", ") + region;
    return text;
}

std::string Utf16Form(const std::wstring& name)
{
    std::string bytes;
    for (const wchar_t unit : name) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    }
    return bytes;
}

std::vector<UndeleteRow> UndeleteRows(const std::string& listing)
{
    // A heading, a line of dashes, one line per record, an empty line, the summary.
    std::vector<UndeleteRow> rows;
    std::istringstream lines(listing);
    std::string line;
    bool inRows = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!inRows) {
            inRows = line.rfind("-----", 0) == 0;
            continue;
        }
        if (line.empty())
            break;
        std::istringstream fields(line);
        UndeleteRow row;
        std::string date;
        std::string time;
        std::string size;
        if (!(fields >> row.Inode >> row.Flags >> row.Recoverable >> date >> time >> size))
            continue;
        std::getline(fields >> std::ws, row.Name);
        rows.push_back(row);
    }
    return rows;
}

std::optional<std::string> ReadUnixFile(const std::string& unixPath)
{
    const std::string path = FromUnixPath(unixPath);
    if (!Exists(path))
        return std::nullopt;
    const std::vector<unsigned char> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteUnixFile(const std::string& unixPath, const std::string& text)
{
    const UniqueHandle file(::CreateFileA(FromUnixPath(unixPath).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) &&
           written == text.size();
}

MarkerFinds ExaminedImage::Found(const std::string& tag) const
{
    const auto found = Markers.find(tag);
    return found == Markers.end() ? MarkerFinds() : found->second;
}

size_t ExaminedImage::RowsNaming(const std::wstring& name) const
{
    return static_cast<size_t>(std::count_if(
        Rows.begin(), Rows.end(), [&](const UndeleteRow& row) { return row.Name == Utf8(name); }));
}

size_t ExaminedImage::NamedRows() const
{
    return static_cast<size_t>(std::count_if(
        Rows.begin(), Rows.end(), [](const UndeleteRow& row) { return row.Name != "<none>"; }));
}

void ReadExaminedImage(const VolumeRun& run, const std::string& handedFile,
                       std::optional<ExaminedImage>& examined)
{
    std::optional<RawImage> image = RawImage::Read(run.Image());
    ASSERT_TRUE(image) << "cannot read the image " << run.Image();
    const std::optional<std::string> listing = ReadUnixFile(run.UndeleteListing());
    ASSERT_TRUE(listing) << "no listing of the image at " << run.UndeleteListing();
    std::optional<std::string> handed = ReadUnixFile(run.CaseFile(handedFile));
    ASSERT_TRUE(handed) << "the mounted phase left no " << handedFile;
    std::map<std::string, MarkerFinds> markers = image->Markers();
    examined = ExaminedImage{std::move(*image), std::move(markers), UndeleteRows(*listing),
                             std::move(*handed)};
}

void KeepFindings(const VolumeRun& run, const std::string& findings)
{
    std::printf("%s", findings.c_str());
    std::fflush(stdout);
    EXPECT_TRUE(WriteUnixFile(run.CaseFile("findings.txt"), findings));
}
