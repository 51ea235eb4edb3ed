#include "shellext/MenuHelpText.h"

#include "common/TextConversion.h"

#include <string>

HRESULT CopyMenuHelpText(const char* text, UINT_PTR command, UINT type, CHAR* buffer, UINT size)
{
    if (command != 0 || !(type & GCS_HELPTEXTA))
        return E_INVALIDARG;
    if (type & GCS_UNICODE) {
        const std::wstring wide = Widen(text);
        ::lstrcpynW(reinterpret_cast<wchar_t*>(buffer), wide.c_str(), static_cast<int>(size));
    } else {
        ::lstrcpynA(buffer, text, static_cast<int>(size));
    }
    return S_OK;
}
