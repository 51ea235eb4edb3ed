// Shreds a file of each size with each method as a job (a worker started the way the launcher
// starts it, calling the system through the real seam) against a window on another thread that
// handles every notification as the progress window does, and compares the time with the
// protocol floor: one 1 KiB _write plus one cross-thread SendMessageA per progress step. The
// floor moves a lot between runs on a loaded machine, so it is sampled just before and just after
// each run. A random block also costs the acquire, draw and release of a provider context of its
// own; the floor with that cost counts it for the run's random blocks (with the provider kept
// loaded, as the worker keeps it).
//
//   ShredBenchmark [--methods random,dod,gutmann] [sizes in MiB...]   (default: all methods, 1)
//
// Files are written under the prefix's scratch drive T: (scripts/wine-prefix.sh maps it).
#include "core/ShredThread.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char ScratchFolder[] = "T:\\orlenwick-bench";
constexpr int RandomBlockSize = 1024;
constexpr int PlainFloorSteps = 2000;
constexpr int ContextFloorSteps = 400;
constexpr int ContextCostSamples = 200;
constexpr DWORD ContextFlags = CRYPT_VERIFYCONTEXT | CRYPT_SILENT;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A window with a progress bar on a thread of its own, like the progress window on the shell's
// thread: a file announcement restarts the bar, a step advances it.
class ProgressReceiver
{
public:
    ProgressReceiver()
    {
        HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = std::thread([this, ready] {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = Proc;
            windowClass.hInstance = ::GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "OrlenwickBenchProgress";
            ::RegisterClassA(&windowClass);
            window = ::CreateWindowExA(0, windowClass.lpszClassName, "Shredding items...",
                                       WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr,
                                       windowClass.hInstance, nullptr);
            bar = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 260, 20,
                                    window, nullptr, windowClass.hInstance, nullptr);
            ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            ::SetEvent(ready);
            MSG message;
            while (::GetMessageA(&message, nullptr, 0, 0) > 0)
                ::DispatchMessageA(&message);
            ::DestroyWindow(window);
        });
        ::WaitForSingleObject(ready, INFINITE);
        ::CloseHandle(ready);
    }
    ~ProgressReceiver()
    {
        ::PostMessageA(window, WM_QUIT, 0, 0);
        thread.join();
    }
    ProgressReceiver(const ProgressReceiver&) = delete;
    ProgressReceiver& operator=(const ProgressReceiver&) = delete;

    HWND Window() const { return window; }
    bool HasBar() const { return bar != nullptr; }
    void ResetCounts()
    {
        Steps = 0;
        Shredded = 0;
    }

    std::atomic<long> Steps{0};
    std::atomic<int> Shredded{0};

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self =
            reinterpret_cast<ProgressReceiver*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_SHRED_FILE) {
            FreeShredFileNameBlock(lParam);
            ::SendMessageA(self->bar, PBM_SETRANGE32, 0, LOWORD(wParam));
            ::SendMessageA(self->bar, PBM_SETSTEP, 1, 0);
            ::SendMessageA(self->bar, PBM_SETPOS, 0, 0);
            return 0;
        }
        if (self && message == WM_COMMAND) {
            const WORD id = LOWORD(wParam);
            if (id == ID_SHRED_STEP) {
                ::SendMessageA(self->bar, PBM_STEPIT, 0, 0);
                ++self->Steps;
            } else if (id == ShredStatusCommand(StatusShredded)) {
                ++self->Shredded;
            }
            return 0;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    std::thread thread;
    HWND window = nullptr;
    HWND bar = nullptr;
};

// A provider context that is only held, for as long as the object lives.
class HeldContext
{
public:
    HeldContext()
    {
        if (!::CryptAcquireContextA(&context, nullptr, nullptr, PROV_RSA_FULL, ContextFlags))
            context = 0;
    }
    ~HeldContext()
    {
        if (context)
            ::CryptReleaseContext(context, 0);
    }
    HeldContext(const HeldContext&) = delete;
    HeldContext& operator=(const HeldContext&) = delete;

private:
    HCRYPTPROV context = 0;
};

// What every random block does for its data: a context of its own, one draw, the release.
void DrawWithFreshContext(BYTE* block)
{
    HCRYPTPROV context = 0;
    if (::CryptAcquireContextA(&context, nullptr, nullptr, PROV_RSA_FULL, ContextFlags)) {
        ::CryptGenRandom(context, RandomBlockSize, block);
        ::CryptReleaseContext(context, 0);
    }
}

// Seconds per step of the bare protocol, with or without a fresh context's draw per step.
double SampleFloor(HWND window, const std::string& folder, bool freshContext)
{
    const std::string path = folder + "\\floor.bin";
    const int descriptor =
        ::_open(path.c_str(), _O_WRONLY | _O_BINARY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    std::vector<BYTE> block(RandomBlockSize, 'f');
    const int steps = freshContext ? ContextFloorSteps : PlainFloorSteps;
    std::unique_ptr<HeldContext> keepLoaded;
    if (freshContext)
        keepLoaded = std::make_unique<HeldContext>();
    const auto start = Clock::now();
    for (int i = 0; i < steps; ++i) {
        if (i % 1024 == 0)
            ::_lseeki64(descriptor, 0, SEEK_SET);
        if (freshContext)
            DrawWithFreshContext(block.data());
        ::_write(descriptor, block.data(), RandomBlockSize);
        ::SendMessageA(window, WM_COMMAND, MakeShredWParam(0, ID_SHRED_STEP), 0);
    }
    const double perStep = Seconds(start) / steps;
    ::_close(descriptor);
    ::remove(path.c_str());
    return perStep;
}

// Seconds per fresh context and draw alone, with the provider kept loaded or not.
double SampleContextCost(bool keepProviderLoaded)
{
    std::vector<BYTE> block(RandomBlockSize);
    std::unique_ptr<HeldContext> held;
    if (keepProviderLoaded)
        held = std::make_unique<HeldContext>();
    const auto start = Clock::now();
    for (int i = 0; i < ContextCostSamples; ++i)
        DrawWithFreshContext(block.data());
    return Seconds(start) / ContextCostSamples;
}

void PrintContextCost(const char* when)
{
    const double unheld = SampleContextCost(false);
    const double held = SampleContextCost(true);
    std::printf("fresh context + 1 KiB draw (%s): %.0f us alone, %.0f us with the provider kept "
                "loaded\n",
                when, unheld * 1e6, held * 1e6);
}

bool WriteFileOfSize(const std::string& path, int64_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<char> block(1 << 20, 'x');
    for (int64_t left = size; left > 0; left -= static_cast<int64_t>(block.size()))
        std::fwrite(block.data(), 1, static_cast<size_t>(std::min<int64_t>(left, block.size())),
                    file);
    return std::fclose(file) == 0;
}

// Runs one item as a job, as the launcher does, and returns the seconds until its worker ended.
double RunJob(HWND window, const std::string& path, int method)
{
    auto* worker = static_cast<CShredThread*>(AfxBeginThread(
        RUNTIME_CLASS(CShredThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr));
    if (!worker)
        return -1;
    ShredSettings settings;
    settings.ShreddingMethod = method;
    settings.Passes = 1;
    settings.OverwriteTails = false;
    settings.MangleDateAndTime = false;
    worker->ItemPath = path;
    worker->ItemIndex = 0;
    worker->SetSettings(settings);
    worker->ProgressWindow = window;
    // The worker closes its own handle when it ends: wait on one of ours.
    HANDLE thread = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), worker->m_hThread, ::GetCurrentProcess(), &thread, 0,
                      FALSE, DUPLICATE_SAME_ACCESS);
    const auto start = Clock::now();
    worker->ResumeThread();
    ::WaitForSingleObject(thread, INFINITE);
    const double seconds = Seconds(start);
    ::CloseHandle(thread);
    return seconds;
}

struct Method
{
    int Id;
    const char* Name;
    int RandomPasses;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    std::string chosen = "random,dod,gutmann";
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--methods" && i + 1 < argc)
            chosen = argv[++i];
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {1};

    const DWORD scratch = ::GetFileAttributesA("T:\\");
    if (scratch == INVALID_FILE_ATTRIBUTES || !(scratch & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "no scratch drive T: (run scripts/wine-prefix.sh)\n");
        return 1;
    }
    const std::string folder = ScratchFolder;
    ::CreateDirectoryA(folder.c_str(), nullptr);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    ProgressReceiver receiver;
    if (!receiver.HasBar()) {
        std::fprintf(stderr, "no progress bar could be created\n");
        return 1;
    }

    PrintContextCost("at the start");
    std::printf("floor: us per step (1 KiB _write + SendMessageA + PBM_STEPIT), before and after "
                "the run; ctx: the same with a fresh context and 1 KiB draw per step;\n"
                "floor s: the run's steps at the floor; +ctx s: its random blocks at ctx; "
                "x floor, x +ctx: those divided by the run's seconds\n");
    std::printf("%-4s %-8s %8s %7s %7s %7s %7s %7s %8s %8s %7s %7s\n", "MiB", "method", "seconds",
                "steps", "floor<", "floor>", "ctx<", "ctx>", "floor s", "+ctx s", "x floor",
                "x +ctx");

    const Method methods[] = {
        {MethodRandomData, "random", 1}, {MethodDoD, "DoD", 2}, {MethodGutmann, "Gutmann", 8}};
    int failures = 0;
    for (int mebibytes : sizes) {
        for (const Method& method : methods) {
            std::string name = method.Name;
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (chosen.find(name) == std::string::npos)
                continue;
            const std::string path = folder + "\\bench.bin";
            const int64_t size = int64_t{mebibytes} << 20;
            if (!WriteFileOfSize(path, size)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }

            const double floorBefore = SampleFloor(receiver.Window(), folder, false);
            const double contextBefore = SampleFloor(receiver.Window(), folder, true);
            receiver.ResetCounts();
            const double seconds = RunJob(receiver.Window(), path, method.Id);
            const long steps = receiver.Steps;
            const bool shredded = receiver.Shredded == 1 &&
                                  ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
            const double floorAfter = SampleFloor(receiver.Window(), folder, false);
            const double contextAfter = SampleFloor(receiver.Window(), folder, true);

            const double floorStep = (floorBefore + floorAfter) / 2;
            const double contextStep = (contextBefore + contextAfter) / 2;
            const double randomSteps =
                method.RandomPasses *
                static_cast<double>((size + RandomBlockSize - 1) / RandomBlockSize);
            const double floorSeconds = steps * floorStep;
            const double contextSeconds =
                (steps - randomSteps) * floorStep + randomSteps * contextStep;
            std::printf("%-4d %-8s %8.2f %7ld %7.0f %7.0f %7.0f %7.0f %8.2f %8.2f %7.2f %7.2f%s\n",
                        mebibytes, method.Name, seconds, steps, floorBefore * 1e6, floorAfter * 1e6,
                        contextBefore * 1e6, contextAfter * 1e6, floorSeconds, contextSeconds,
                        floorSeconds / seconds, contextSeconds / seconds,
                        shredded ? "" : "  NOT SHREDDED");
            std::fflush(stdout);
            if (!shredded)
                ++failures;
            ::remove(path.c_str());
        }
    }
    PrintContextCost("at the end");
    ::RemoveDirectoryA(folder.c_str());
    return failures == 0 ? 0 : 2;
}
