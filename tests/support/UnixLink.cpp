#include "UnixLink.h"

#include "TestOwners.h"
#include "WaitUntil.h"
#include "common/TextConversion.h"

#include <windows.h>

#include <algorithm>

namespace {

// Wine's own lookup of the Unix path behind a Windows one; the caller frees the text.
std::string UnixPathOf(const std::string& path)
{
    using Lookup = char* CDECL(const wchar_t*);
    auto* lookup = reinterpret_cast<Lookup*>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unixPath = lookup ? lookup(Widen(path).c_str()) : nullptr;
    if (!unixPath)
        return std::string();
    std::string copy(unixPath);
    ::HeapFree(::GetProcessHeap(), 0, unixPath);
    return copy;
}

// Wine starts a Unix program given by its Unix path as it would a Windows one, but its handle
// does not wait for it: the caller waits for its effect.
bool RunUnix(const std::wstring& program, const std::string& arguments)
{
    std::wstring commandLine = program + L" " + Widen(arguments);
    std::wstring application = L"\\\\?\\unix" + program;
    std::replace(application.begin(), application.end(), L'/', L'\\');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &process))
        return false;
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    return true;
}

// Whether the name is listed in its folder, link or not, waiting up to a few seconds for it to
// become `listed`.
bool WaitUntilListed(const std::string& path, bool listed)
{
    return WaitUntil(
        [&] {
            WIN32_FIND_DATAA entry{};
            const UniqueFind found(::FindFirstFileA(path.c_str(), &entry));
            return found.IsValid() == listed;
        },
        5000, 20);
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

} // namespace

UnixLink::UnixLink(const std::string& link, const std::string& target) : unixLink(UnixPathOf(link))
{
    const std::string unixTarget = UnixPathOf(target);
    if (unixLink.empty() || unixTarget.empty())
        return;
    made = RunUnix(L"/bin/ln", "-s " + Quoted(unixTarget) + " " + Quoted(unixLink)) &&
           WaitUntilListed(link, true);
    if (made)
        windowsLink = link;
}

UnixLink::~UnixLink()
{
    if (made && RunUnix(L"/bin/rm", "-f " + Quoted(unixLink)))
        WaitUntilListed(windowsLink, false);
}
