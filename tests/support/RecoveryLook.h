// What a recovery look at a raw disk image finds: numbered content markers, names in the forms a
// volume or a program writes them, and the rows of ntfsundelete's listing.
#pragma once

#include "VolumeRun.h"

#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Content of `size` bytes made of the numbered markers "[tag:00000]", "[tag:00001]", ...: each
// one found on a disk says whose bytes those were. The tag is letters and digits.
std::string MarkedText(const std::string& tag, size_t size);
// The whole markers in such a content.
size_t MarkerCount(const std::string& tag, size_t size);

// "Résumé-part": a name whose code-page form differs from its UTF-16 form in more than the zeros.
std::wstring Named(const std::wstring& part);
std::string Utf8(const std::wstring& text);
// The last part of a path, after its last backslash.
std::wstring LastPart(const std::wstring& path);

// A file's content of markers, or one of its named streams (the path then ends in ":name").
struct MarkedContent
{
    std::wstring Path; // relative to the volume's root
    std::string Tag;
    size_t Size;
};
// Writes the content below `root`, making the folders of its path first; false when it does not
// read back as written.
bool WriteMarked(const std::wstring& root, const MarkedContent& content);

// The markers of one tag found in an image: their numbers, and where each copy lies.
struct MarkerFinds
{
    std::set<size_t> Numbers;
    std::vector<size_t> Offsets;
};

class RawImage
{
public:
    // The whole file, read through its Unix path; nothing when it cannot be read.
    static std::optional<RawImage> Read(const std::string& unixPath);

    size_t Size() const { return bytes.size(); }
    // Every whole marker in the image, by tag.
    std::map<std::string, MarkerFinds> Markers() const;
    // The offsets where `part` occurs.
    std::vector<size_t> Places(const std::string& part) const;
    // What holds the byte at `offset` on a volume of mkntfs's layout for small volumes (file
    // records of 1024 bytes, index blocks of 4096): "file record", "index block" or "clusters".
    std::string Region(size_t offset) const;
    // The regions of the offsets, each once, in order of first appearance: "file record, clusters".
    std::string Regions(const std::vector<size_t>& offsets) const;
    // Whether the file record holding `offset` is in use (its header's in-use flag); a record no
    // longer in use is free space in the record table.
    bool RecordInUse(size_t offset) const;

private:
    std::string bytes;
};

// A name as NTFS keeps it in file records and folder indexes: UTF-16, little-endian.
std::string Utf16Form(const std::wstring& name);

// One row of `ntfsundelete -s`: a file record not in use that still names a file or folder.
struct UndeleteRow
{
    std::string Inode;
    std::string Flags;       // "F" file or "D" folder first, "R" when its data is resident
    std::string Recoverable; // "100%"
    std::string Name;        // UTF-8; "<none>" for a record without a name
};

// The rows of a listing, without its heading and summary.
std::vector<UndeleteRow> UndeleteRows(const std::string& listing);

// A text file read through its Unix path; nothing when it cannot be read.
std::optional<std::string> ReadUnixFile(const std::string& unixPath);
bool WriteUnixFile(const std::string& unixPath, const std::string& text);

// What the examine phase looks at: the image the mounted phase left, its markers, ntfsundelete's
// listing of it, and what the mounted phase handed on in a file of the case's folder.
struct ExaminedImage
{
    RawImage Image;
    std::map<std::string, MarkerFinds> Markers;
    std::vector<UndeleteRow> Rows;
    std::string Handed;

    // The markers of `tag` found; none when none was.
    MarkerFinds Found(const std::string& tag) const;
    // The rows of the listing naming `name`, and those naming anything.
    size_t RowsNaming(const std::wstring& name) const;
    size_t NamedRows() const;
};
// All that for the running case, the handed text from `handedFile`; a fatal failure of the test
// when any of it cannot be read.
void ReadExaminedImage(const VolumeRun& run, const std::string& handedFile,
                       std::optional<ExaminedImage>& examined);
// Prints the findings and keeps them in the case's folder, beside what the image showed.
void KeepFindings(const VolumeRun& run, const std::string& findings);
