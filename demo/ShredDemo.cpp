// Runs one shred job on sample files it creates, the way the confirm dialog starts it, and
// prints what a progress window would receive and what is left on disk.
#include "common/TextConversion.h"
#include "core/ShredThread.h"
#include "engine/ShredOs.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char WindowClass[] = "OrlenwickDemoProgress";
int finishedWorkers = 0;
int expectedWorkers = 0;
int stepsOfCurrentFile = 0;

void Print(WPARAM wParam, const char* what)
{
    std::printf("  [item %u] %s\n", HIWORD(wParam), what);
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHRED_FILE) {
        char line[400];
        std::snprintf(line, sizeof line, "WM_SHRED_FILE range %u: %s", LOWORD(wParam),
                      reinterpret_cast<const char*>(lParam));
        FreeShredFileNameBlock(lParam);
        stepsOfCurrentFile = 0;
        Print(wParam, line);
        return 0;
    }
    if (message != WM_COMMAND)
        return ::DefWindowProcA(window, message, wParam, lParam);
    const WORD id = LOWORD(wParam);
    char line[200];
    if (id == ID_SHRED_STEP) {
        ++stepsOfCurrentFile;
        return 0;
    }
    if (id >= ID_SHRED_PASS_BASE) {
        std::snprintf(line, sizeof line, "pass marker %u (posted)", id);
    } else {
        const int status = id - ID_SHRED_STATUS_BASE;
        const char* text = ShredStatusText(status);
        if (status == StatusShredded || status == StatusRemoveFailed ||
            status == StatusOverwriteFailed)
            std::snprintf(line, sizeof line, "status %d %s, after %d progress steps", status,
                          text ? text : "Shredded", stepsOfCurrentFile);
        else
            std::snprintf(line, sizeof line, "status %d %s", status, text ? text : "Finished");
        if (status == StatusFinished && ++finishedWorkers == expectedWorkers)
            ::PostQuitMessage(0);
    }
    Print(wParam, line);
    return 0;
}

void WriteSample(const std::string& path, size_t size, char fill)
{
    std::ofstream(path, std::ios::binary) << std::string(size, fill);
}

// Through the engine's own seam and its owner of listings.
void ListLeft(const std::string& folder)
{
    ShredOs os;
    WIN32_FIND_DATAW entry;
    const UniqueListing listing =
        OwnListing(os, os.FindFirstFileW(Widen(folder + "\\*").c_str(), &entry));
    int count = 0;
    if (listing) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::printf("  %s (%lu bytes)\n", NarrowWithSubstitutes(name).c_str(),
                        entry.nFileSizeLow);
            ++count;
        } while (os.FindNextFileW(listing.Get(), &entry));
    }
    if (count == 0)
        std::printf("  (nothing)\n");
}

} // namespace

int main()
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "orlenwick-demo";
    ::CreateDirectoryA(folder.c_str(), nullptr);

    const std::string report = folder + "\\report.final.doc";
    const std::string photo = folder + "\\photo.jpg";
    const std::string secret = folder + "\\secret.txt";
    WriteSample(report, 10000, 'r');
    WriteSample(photo, 70000, 'p');
    WriteSample(secret, 300, 's');
    ::SetFileAttributesA(secret.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const std::vector<std::string> items = {report, photo, secret, folder + "\\missing.txt",
                                            "\\\\server\\share\\file.txt"};

    std::printf("Sample folder %s before shredding:\n", folder.c_str());
    ListLeft(folder);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ProgressProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WindowClass;
    ::RegisterClassA(&windowClass);
    HWND window = ::CreateWindowExA(0, WindowClass, "Shredding items...", WS_OVERLAPPED, 0, 0, 10,
                                    10, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) {
        std::printf("cannot create the progress window (error %lu)\n", ::GetLastError());
        return 1;
    }

    ShredSettings settings;
    settings.ShreddingMethod = MethodRandomData;
    settings.Passes = 2;
    settings.OverwriteTails = true;
    settings.MangleDateAndTime = true;
    std::printf("\nShredding %zu items: random data, 2 passes, tails and name mangling on\n",
                items.size());
    expectedWorkers = static_cast<int>(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        auto* worker = static_cast<CShredThread*>(AfxBeginThread(
            RUNTIME_CLASS(CShredThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr));
        if (!worker) {
            --expectedWorkers;
            continue;
        }
        worker->ItemPath = items[i];
        worker->IsRecycleBin = false;
        worker->ItemIndex = static_cast<int32_t>(i);
        worker->SetSettings(settings);
        worker->ProgressWindow = window;
        worker->ResumeThread();
    }

    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&message);
    ::DestroyWindow(window);

    std::printf("\nLeft in %s:\n", folder.c_str());
    ListLeft(folder);
    ::RemoveDirectoryA(folder.c_str());
    return finishedWorkers == static_cast<int>(items.size()) ? 0 : 1;
}
