// Which of a fake's calls fail, and with what: by the kind of call and its number, the path it
// names, or the pass it comes in. Calls the script does not name are the real ones.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The calls a script can make fail. The runtime-library calls fail with an errno, the others
// with a system error code.
enum class Call
{
    CreateFileForWriting,
    Rename,
    Remove,
    Write,
    Commit,
    BackupRead,
    DiskFreeSpace,
    VolumeInformation,
    ProviderAcquire,
    RandomDraw,
};

class FaultScript
{
public:
    // The error that makes a read deliver one byte less than it would and succeed.
    static constexpr int ShortResult = -1;

    // The `number`th call of the kind (from 1) fails.
    void Fail(Call kind, int number, int error) { Add({kind, number, 0, "", error, false}); }
    // Every call of the kind from the `number`th on fails.
    void FailFrom(Call kind, int number, int error) { Add({kind, number, 0, "", error, true}); }
    // Every call of the kind fails.
    void FailAll(Call kind, int error) { FailFrom(kind, 1, error); }
    // Every call of the kind that names `path` fails.
    void FailOn(Call kind, const std::string& path, int error)
    {
        Add({kind, 0, 0, path, error, true});
    }
    // Every call of the kind made while the `pass`th pass (from 1) is written fails.
    void FailInPass(Call kind, int pass, int error) { Add({kind, 0, pass, "", error, true}); }
    // The `number`th call of the kind succeeds with at most `most` bytes (a short write).
    void Shorten(Call kind, int number, unsigned most)
    {
        Add({kind, number, 0, "", 0, false, static_cast<int64_t>(most)});
    }

    // A pass starts: the fake calls this at each seek to a pass's start.
    void StartPass()
    {
        std::lock_guard<std::mutex> guard(lock);
        ++pass;
    }

    // Counts a call of the kind and gives the error it fails with, or 0 when it is to run; a
    // call to be shortened runs with its bound in `most`.
    int Next(Call kind, const std::string& path = "", unsigned* most = nullptr)
    {
        std::lock_guard<std::mutex> guard(lock);
        const int number = ++counts[kind];
        for (const Fault& fault : faults) {
            if (fault.Kind != kind)
                continue;
            const bool byPath = !fault.Path.empty() && fault.Path == path;
            const bool byPass = fault.Pass != 0 && fault.Pass == pass;
            const bool byNumber = fault.Number != 0 &&
                                  (fault.Onward ? number >= fault.Number : number == fault.Number);
            if (!(byPath || byPass || byNumber))
                continue;
            if (fault.Most < 0)
                return fault.Error;
            if (most)
                *most = static_cast<unsigned>(fault.Most);
            return 0;
        }
        return 0;
    }

    // Drops every fault, keeping the counts.
    void Clear()
    {
        std::lock_guard<std::mutex> guard(lock);
        faults.clear();
    }

private:
    struct Fault
    {
        Call Kind;
        int Number;
        int Pass;
        std::string Path;
        int Error;
        bool Onward;
        // The bound of a shortened call, or -1.
        int64_t Most = -1;
    };

    void Add(Fault fault)
    {
        std::lock_guard<std::mutex> guard(lock);
        faults.push_back(std::move(fault));
    }

    std::mutex lock;
    std::vector<Fault> faults;
    std::map<Call, int> counts;
    int pass = 0;
};
