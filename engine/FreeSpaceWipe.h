// Wipes the free space of one volume: in a folder of its own at the root, filler files written
// with every pass of the user's method until the volume is full, then small files that take the
// free file records (where the names and small contents of deleted files stay) until none is
// left, then all of it deleted again. Every system call goes through the engine's seam; every write
// is bounded by the free space the volume reported at the start.
#pragma once

#include "core/WipeJob.h"
#include "engine/RandomBlocks.h"
#include "engine/ShredOs.h"
#include "engine/WipePasses.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class FreeSpaceWipe
{
public:
    FreeSpaceWipe(ShredOs& os, const WipeOptions& options, WipeProgress& progress);
    FreeSpaceWipe(const FreeSpaceWipe&) = delete;
    FreeSpaceWipe& operator=(const FreeSpaceWipe&) = delete;

    // Wipes the volume whose root is `root` ("N:\"). Whatever happens, no filler is left.
    WipeResult Run(const std::string& root);

private:
    struct Filler
    {
        std::string Path;
        UniqueFileHandle File;
        uint64_t Length = 0;
    };

    bool Cancelled() const;
    void Fail(const std::string& what, const std::string& why);
    void Fail(const std::string& what, const char* doing, DWORD error);

    // A folder of the name that a crashed wipe left: its fillers are deleted and it is removed.
    // False when it holds anything else, is a link, or cannot be removed.
    bool RemoveLeftover();
    // The wipe's folder and the records folder in it, each made and held open.
    bool MakeFolders();
    UniqueFileHandle MakeFolder(const std::string& path, const char* failure);
    // The space the user may still write on the volume; FreeBytes reports it when it cannot be
    // read.
    std::optional<uint64_t> AvailableBytes();
    std::optional<uint64_t> FreeBytes();

    void Fill(uint64_t freeBytes);
    // One filler file with every pass, at most `limit` bytes long; `full` once the volume is.
    void FillFile(size_t index, uint64_t limit, bool& full);
    bool Uncompressed(Filler& filler);
    // Writes one pass over the first `length` bytes; returns how many it wrote. With `extend`
    // the file grows and the pass ends early, setting `full`, when the volume is full.
    uint64_t WritePass(Filler& filler, PassData& data, uint64_t length, bool extend, bool& full);
    bool Flush(Filler& filler);

    void TakeFreeRecords();
    void ReleaseReserve();
    // The file records reach the disk before their files are deleted: a record created and
    // deleted in the cache alone would leave the old one on the disk.
    bool FlushVolume();

    // Everything the wipe made goes: the fillers first, so that the volume is full no longer.
    void Clean();

    ShredOs& os;
    const WipeOptions options;
    WipeProgress& progress;
    std::string root;
    std::string folder;
    std::string recordsFolder;
    // The folders, held open so that neither can be renamed or replaced while the wipe runs.
    UniqueFileHandle folderHandle;
    UniqueFileHandle recordsHandle;
    std::unique_ptr<RandomBlocks> random;
    std::vector<WipePass> passes;
    std::vector<Filler> fillers;
    uint64_t unflushed = 0;
    bool stoppedByCancel = false;
    WipeResult result;
};
