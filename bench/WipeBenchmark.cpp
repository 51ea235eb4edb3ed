// The free-space wipe's throughput against a plain sequential writer of the same 1 MiB blocks to
// the same volume, in the same run. The plain writer fills the volume with one block written
// over and over (random bytes made once, or a fixed pattern), flushes and deletes its file; the
// wipe fills it with the random method's single pass (each block new), and with the DoD method's
// seven passes (five of them patterns). Only the filling is timed, from the first filler to the
// last, as the plain writer's file is timed from its creation to its flush; the file records and
// the clean-up are left out of both. Rounds alternate the runs, since a shared machine's speed
// drifts.
//
//   WipeBenchmark [rounds]        (default 3)
//
// It fills only a test volume: the drive and folder in ORLENWICK_VOLUME_DRIVE and
// ORLENWICK_VOLUME_FOLDER, proven a volume of scripts/test-volume.sh (scripts/wipe-benchmark.sh
// makes one, runs this and takes it down).
#include "common/Seam.h"
#include "core/WipeJob.h"
#include "engine/FreeSpaceWipe.h"
#include "engine/Keystream.h"
#include "engine/WipeReport.h"
#include "tests/support/TestVolume.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD BlockSize = 1u << 20;

struct Measure
{
    uint64_t Bytes = 0;
    double Seconds = 0;
    double Rate() const { return Seconds > 0 ? Bytes / Seconds : 0; }
};

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The plain writer's blocks: one made once and written over and over, or each made new by the
// wipe's own keystream just before it is written.
enum class PlainBlocks
{
    Repeated,
    Keystream,
};

// One file written block after block until the volume is full, flushed as often as the wipe
// flushes, then deleted.
Measure PlainWriter(const TestVolume& volume, std::vector<BYTE> block, PlainBlocks blocks)
{
    const std::string path = volume.Root + "plain-writer.bin";
    Measure measure;
    BYTE key[KeystreamKeySize] = {1};
    BYTE counter[KeystreamBlockSize] = {};
    AesCounterKeystream keystream(key, counter);
    const uint64_t flushInterval = WipeOptions().FlushInterval;
    const Clock::time_point start = Clock::now();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot create %s (error %lu)\n", path.c_str(), ::GetLastError());
        return measure;
    }
    // Bounded by the largest test volume whatever the volume answers.
    uint64_t unflushed = 0;
    DWORD written = 0;
    while (measure.Bytes < LargestTestVolume) {
        if (blocks == PlainBlocks::Keystream)
            keystream.Fill(block.data(), block.size());
        if (!::WriteFile(file, block.data(), BlockSize, &written, nullptr) || written == 0)
            break;
        measure.Bytes += written;
        unflushed += written;
        if (unflushed >= flushInterval) {
            ::FlushFileBuffers(file);
            unflushed = 0;
        }
    }
    ::FlushFileBuffers(file);
    measure.Seconds = Since(start);
    ::CloseHandle(file);
    ::DeleteFileA(path.c_str());
    return measure;
}

// The wipe's fill alone, timed from the moment it starts filling to the moment it stops.
Measure WipeFill(const TestVolume& volume, const ShredSettings& settings, WipeResult& result)
{
    WipeOptions options;
    options.Settings = settings;
    options.RecordBound = 0;
    WipeProgress progress;
    std::atomic<bool> done{false};
    Clock::time_point filling{};
    Clock::time_point filled{};
    std::thread watch([&] {
        bool started = false;
        while (!done) {
            const WipePhase phase = progress.CurrentPhase();
            if (!started && phase == WipePhase::Filling) {
                filling = Clock::now();
                started = true;
            }
            if (started && phase != WipePhase::Filling) {
                filled = Clock::now();
                return;
            }
            std::this_thread::yield();
        }
    });
    FreeSpaceWipe wipe(Seam<ShredOs>::Active(), options, progress);
    result = wipe.Run(volume.Root);
    done = true;
    watch.join();
    Measure measure;
    measure.Bytes = progress.BytesDone;
    measure.Seconds = std::chrono::duration<double>(filled - filling).count();
    return measure;
}

std::string Line(const char* name, const Measure& measure)
{
    char text[160];
    std::snprintf(text, sizeof text, "  %-36s %9s in %7.3f s  %12s", name,
                  ByteCountText(measure.Bytes).c_str(), measure.Seconds,
                  RateText(measure.Rate()).c_str());
    return text;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string why;
    const std::optional<TestVolume> volume = ScenarioTestVolume(why);
    if (!volume) {
        std::printf("refusing to fill anything: %s\n", why.c_str());
        return 2;
    }
    std::vector<BYTE> randomBlock(BlockSize);
    std::vector<BYTE> patternBlock(BlockSize, 0x55);
    {
        HCRYPTPROV provider = 0;
        ::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                               CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
        ::CryptGenRandom(provider, BlockSize, randomBlock.data());
        ::CryptReleaseContext(provider, 0);
    }
    std::printf("Wipe benchmark on %s (%s free), AES instructions: %s\n", volume->Drive.c_str(),
                ByteCountText([&] {
                    ULARGE_INTEGER available{};
                    ::GetDiskFreeSpaceExA(volume->Root.c_str(), &available, nullptr, nullptr);
                    return available.QuadPart;
                }())
                    .c_str(),
                AesCounterKeystream::Available() ? "yes (keystream)" : "no (provider)");
    const bool keystream = AesCounterKeystream::Available();
    std::vector<double> repeatedRatios;
    std::vector<double> freshRatios;
    std::vector<double> dodRatios;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d\n", round);
        WipeResult result;
        auto wipe = [&](const ShredSettings& settings) {
            const Measure measure = WipeFill(*volume, settings, result);
            if (result.Outcome != WipeOutcome::Wiped)
                std::printf("  the wipe ended: %s\n", WipeResultLine(result).c_str());
            return measure;
        };
        ShredSettings single;
        single.ShreddingMethod = MethodRandomData;
        single.Passes = 1;
        ShredSettings dod;
        dod.ShreddingMethod = MethodDoD;
        const Measure repeated = PlainWriter(*volume, randomBlock, PlainBlocks::Repeated);
        const Measure wipeRandom = wipe(single);
        const Measure fresh =
            keystream ? PlainWriter(*volume, randomBlock, PlainBlocks::Keystream) : Measure();
        const Measure pattern = PlainWriter(*volume, patternBlock, PlainBlocks::Repeated);
        const Measure wipeDoD = wipe(dod);
        auto ratio = [](const Measure& wipe, const Measure& plain) {
            return plain.Rate() > 0 ? wipe.Rate() / plain.Rate() : 0;
        };
        std::printf("%s\n", Line("plain writer, one random block", repeated).c_str());
        if (keystream)
            std::printf("%s\n", Line("plain writer, keystream blocks", fresh).c_str());
        std::printf("%s\n", Line("wipe, random data, 1 pass", wipeRandom).c_str());
        std::printf("%s\n", Line("plain writer, fixed pattern", pattern).c_str());
        std::printf("%s\n", Line("wipe, DoD, 7 passes (5 patterns)", wipeDoD).c_str());
        repeatedRatios.push_back(ratio(wipeRandom, repeated));
        freshRatios.push_back(ratio(wipeRandom, fresh));
        dodRatios.push_back(ratio(wipeDoD, pattern));
        std::printf("  random pass / plain (one block) %.2f, / plain (keystream blocks) %.2f; "
                    "DoD / plain (pattern) %.2f\n",
                    repeatedRatios.back(), freshRatios.back(), dodRatios.back());
    }
    std::printf("median of %d rounds: random pass / plain (one block) %.2f, / plain (keystream "
                "blocks) %.2f; DoD / plain (pattern) %.2f\n",
                rounds, Median(repeatedRatios), Median(freshRatios), Median(dodRatios));
    return 0;
}
