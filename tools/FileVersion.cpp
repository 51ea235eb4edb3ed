#include "tools/FileVersion.h"

#include <windows.h>

#include <vector>

namespace {

std::string Dotted(DWORD high, DWORD low)
{
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

} // namespace

bool ReadFileVersion(const std::wstring& file, std::string& fileVersion,
                     std::string& productVersion)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<BYTE> block(size);
    void* data = nullptr;
    UINT length = 0;
    if (size == 0 || !::GetFileVersionInfoW(file.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", &data, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
    fileVersion = Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    productVersion = Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    return true;
}
