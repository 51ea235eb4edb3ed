// Shreds files of several sizes with each method against a window on another thread, and
// compares the speed with the protocol floor measured in the same run: one cross-thread
// SendMessageA round trip plus one 1 KiB _write per progress step.
//
//   ShredBenchmark [--methods random,dod,gutmann] [sizes in MiB...]   (default: all, 1 16 64)
#include "core/ShredThread.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHRED_FILE) {
        FreeShredFileNameBlock(lParam);
        return 0;
    }
    if (message == WM_COMMAND)
        return 0;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// A window on its own thread, like the progress window on the shell's thread.
class ReceiverThread
{
public:
    ReceiverThread()
    {
        HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = std::thread([this, ready] {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = CountingProc;
            windowClass.hInstance = ::GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "OrlenwickBenchReceiver";
            ::RegisterClassA(&windowClass);
            window = ::CreateWindowExA(0, windowClass.lpszClassName, "bench", WS_OVERLAPPED, 0, 0,
                                       1, 1, nullptr, nullptr, windowClass.hInstance, nullptr);
            ::SetEvent(ready);
            MSG message;
            while (::GetMessageA(&message, nullptr, 0, 0) > 0)
                ::DispatchMessageA(&message);
        });
        ::WaitForSingleObject(ready, INFINITE);
        ::CloseHandle(ready);
    }
    ~ReceiverThread()
    {
        ::PostMessageA(window, WM_QUIT, 0, 0);
        thread.join();
    }
    HWND Window() const { return window; }

private:
    std::thread thread;
    HWND window = nullptr;
};

void WriteFileOfSize(const std::string& path, int64_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    std::vector<char> block(1 << 20, 'x');
    for (int64_t left = size; left > 0; left -= static_cast<int64_t>(block.size()))
        std::fwrite(block.data(), 1, static_cast<size_t>(std::min<int64_t>(left, block.size())),
                    file);
    std::fclose(file);
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds per step of the bare protocol: a 1 KiB write and one synchronous round trip.
double ProtocolFloor(HWND window, const std::string& folder)
{
    const std::string path = folder + "\\floor.bin";
    int descriptor =
        ::_open(path.c_str(), _O_WRONLY | _O_BINARY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    std::vector<char> block(1024, 'f');
    constexpr int Steps = 20000;
    const auto start = Clock::now();
    for (int i = 0; i < Steps; ++i) {
        if (i % 1024 == 0)
            ::_lseeki64(descriptor, 0, SEEK_SET);
        ::_write(descriptor, block.data(), 1024);
        ::SendMessageA(window, WM_COMMAND, MakeShredWParam(0, ID_SHRED_STEP), 0);
    }
    const double perStep = Seconds(start) / Steps;
    ::_close(descriptor);
    ::remove(path.c_str());
    return perStep;
}

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
        sizes = {1, 16, 64};

    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "orlenwick-bench";
    ::CreateDirectoryA(folder.c_str(), nullptr);

    ReceiverThread receiver;
    const double floorPerStep = ProtocolFloor(receiver.Window(), folder);
    const double floorMBps = 1024.0 / floorPerStep / 1e6;
    std::printf("protocol floor: %.1f us per 1 KiB step, %.2f MB/s of written data\n",
                floorPerStep * 1e6, floorMBps);
    std::printf("%-8s %-10s %10s %10s %12s %8s\n", "MiB", "method", "seconds", "steps",
                "MB/s written", "x floor");

    const struct
    {
        int Method;
        const char* Name;
        int Passes;
    } methods[] = {
        {MethodRandomData, "random", 1}, {MethodDoD, "DoD", 7}, {MethodGutmann, "Gutmann", 35}};
    for (int mebibytes : sizes) {
        for (const auto& method : methods) {
            std::string name = method.Name;
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (chosen.find(name) == std::string::npos)
                continue;
            const std::string path = folder + "\\bench.bin";
            const int64_t size = int64_t{mebibytes} << 20;
            WriteFileOfSize(path, size);
            CShredThread worker;
            worker.ProgressWindow = receiver.Window();
            worker.ItemIndex = 0;
            ShredSettings settings;
            settings.ShreddingMethod = method.Method;
            settings.Passes = 1;
            settings.OverwriteTails = false;
            settings.MangleDateAndTime = false;
            worker.SetSettings(settings);
            const auto start = Clock::now();
            worker.ShredFile(path, 512, false, "");
            const double seconds = Seconds(start);
            const double written = static_cast<double>(size) * method.Passes;
            const double mbps = written / seconds / 1e6;
            const double steps = method.Method == MethodGutmann
                                     ? 8.0 * (size / 1024) + 27.0 * ((size + 1022) / 1023)
                                     : method.Passes * (size / 1024.0);
            std::printf("%-8d %-10s %10.2f %10.0f %12.2f %8.2f\n", mebibytes, method.Name, seconds,
                        steps, mbps, mbps / floorMBps);
            std::fflush(stdout);
            ::remove(path.c_str());
        }
    }
    ::RemoveDirectoryA(folder.c_str());
    return 0;
}
