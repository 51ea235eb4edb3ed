// The engine's seam for the free-space wipe's tests, fastened to one test volume (or to none):
// every call is the real one, but a call that names anything outside the volume's root fails
// before it reaches the system, and is counted. On top, the few answers the platform will not give
// on demand: a drive type, volume flags, a filler whose writes fail, slow writes, and what the wipe
// wrote.
#pragma once

#include "CallLog.h"
#include "ProgramRunner.h"
#include "TestFiles.h"
#include "TestVolume.h"
#include "common/Seam.h"
#include "core/WipeJob.h"
#include "engine/ShredOs.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class WipeOs : public ShredOs
{
public:
    // Fastened to no volume at all: nothing can be made, written or deleted anywhere.
    WipeOs() = default;
    explicit WipeOs(const TestVolume& volume);

    // Answers.
    std::optional<UINT> DriveType;
    DWORD ExtraVolumeFlags = 0;
    // Every write to a file whose name ends so fails with WriteError.
    std::string FailingWritesOf;
    DWORD WriteError = ERROR_WRITE_FAULT;
    // Each write waits this long first, so that a test can act in the middle of a wipe.
    DWORD WriteDelayMs = 0;

    // What the wipe did: "outside:<path>" for each call refused for naming something off the
    // volume, "mkdir:<path>" and "create:<path>" for each folder and new file made, "flush".
    CallLog Calls;
    // The furthest byte written into each file, by path.
    std::map<std::string, uint64_t> WrittenLengths();
    // The first bytes of every write at a file's start, by path, in order: one per pass.
    std::map<std::string, std::vector<std::vector<BYTE>>> PassStarts();

    HANDLE CreateFileA(const char* name, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL CreateDirectoryA(const char* path) override;
    BOOL RemoveDirectoryA(const char* path) override
    {
        return Inside(path) && ShredOs::RemoveDirectoryA(path);
    }
    BOOL DeleteFileA(const char* path) override
    {
        return Inside(path) && ShredOs::DeleteFileA(path);
    }
    int Remove(const char* name) override { return Inside(name) ? ShredOs::Remove(name) : -1; }
    int Rename(const char* from, const char* to) override
    {
        return Inside(from) && Inside(to) ? ShredOs::Rename(from, to) : -1;
    }
    BOOL SetFileAttributesA(const char* path, DWORD attributes) override
    {
        return Inside(path) && ShredOs::SetFileAttributesA(path, attributes);
    }
    BOOL WriteFile(HANDLE file, const void* data, DWORD count, DWORD* written) override;
    BOOL FlushFileBuffers(HANDLE file) override
    {
        Calls.Add("flush");
        return ShredOs::FlushFileBuffers(file);
    }
    BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position,
                          DWORD method) override;
    UINT GetDriveTypeA(const char* root) override
    {
        return DriveType ? *DriveType : ShredOs::GetDriveTypeA(root);
    }
    BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                               DWORD* serialNumber, DWORD* maximumComponentLength,
                               DWORD* fileSystemFlags, char* fileSystemName,
                               DWORD fileSystemNameSize) override;

private:
    // The path lies on the volume (or is the volume's device); otherwise the call is counted and
    // refused with ERROR_ACCESS_DENIED.
    bool Inside(const char* path);

    std::string root;
    std::string device;
    std::mutex lock;
    struct OpenFile
    {
        std::string Path;
        uint64_t Position = 0;
    };
    std::map<HANDLE, OpenFile> open;
    std::map<std::string, uint64_t> lengths;
    std::map<std::string, std::vector<std::vector<BYTE>>> passStarts;
};

// The volume tests/VolumeScenario.sh mounted for the running case, proven a test volume; a fatal
// failure of the test when the case does not run on one.
void RequireMountedTestVolume(std::optional<TestVolume>& volume);

// The wipe of the test volume, with `os` in the seam's place; the options as given.
WipeResult WipeTestVolume(const TestVolume& volume, WipeOs& os, const WipeOptions& options,
                          WipeProgress& progress);

// A result as the wipe of `volume` hands it back, for what tells it to the user.
inline WipeResult WipeResultOf(WipeOutcome outcome, uint64_t bytes = 0, uint32_t records = 0,
                               const std::string& volume = "N:")
{
    WipeResult result;
    result.Outcome = outcome;
    result.Volume = volume;
    result.BytesWiped = bytes;
    result.Records = records;
    return result;
}

// Free bytes of the volume as the system reports them now.
uint64_t FreeBytesOf(const TestVolume& volume);

// The built DLL copied to a folder of its own, and its WipeFreeSpace run by rundll32 with the
// arguments an administrator types.
class RundllWipe
{
public:
    explicit RundllWipe(const std::string& builtDll)
        : copied(CopyFromBuild(builtDll, folder / "Orlenwick.dll"))
    {}

    bool Copied() const { return copied; }
    const std::string& Folder() const { return folder.Path(); }
    std::string CommandLine(const std::string& arguments) const
    {
        return "rundll32.exe " + Quoted(folder / "Orlenwick.dll") + ",WipeFreeSpace " + arguments;
    }
    ProgramRun Run(const std::string& arguments, DWORD timeoutMs) const
    {
        return RunProgram(CommandLine(arguments), folder.Path(), timeoutMs);
    }

private:
    const TempFolder folder;
    const bool copied;
};
