#include "afx/AfxDialog.h"

#include "afx/AfxRes.h"

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

AFX_MODULE_STATE moduleState{reinterpret_cast<HINSTANCE>(&__ImageBase)};
// Current per thread: each shell thread runs its own handlers.
thread_local HINSTANCE currentResources = nullptr;

const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id)
{
    for (; map; map = map->GetBaseMap ? map->GetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->Entries; entry->Message != 0; ++entry) {
            if (entry->Message != message)
                continue;
            if (message != WM_COMMAND || (entry->Code == code && entry->Id == id))
                return entry;
        }
        if (!map->GetBaseMap)
            break;
    }
    return nullptr;
}

// Strictly a signed decimal integer that fits 32 bits, surrounding blanks allowed.
bool ParseInteger(const std::string& text, int& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0')
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// The progress bar's window class must exist before a template that uses it is created.
void RegisterControlClasses()
{
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        return ::InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;
}

} // namespace

HINSTANCE AfxGetResourceHandle()
{
    return currentResources ? currentResources : moduleState.m_hCurrentResourceHandle;
}

void AfxSetResourceHandle(HINSTANCE instance)
{
    currentResources = instance;
}

AFX_MODULE_STATE* AfxGetStaticModuleState()
{
    return &moduleState;
}

AfxModuleStateScope::AfxModuleStateScope(AFX_MODULE_STATE* state) : previous(currentResources)
{
    currentResources = state->m_hCurrentResourceHandle;
}

AfxModuleStateScope::~AfxModuleStateScope()
{
    currentResources = previous;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

BOOL CWnd::OnCommand(WPARAM, LPARAM)
{
    return FALSE;
}

const AFX_MSGMAP* CDialog::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_templateId(templateId), m_parent(parent ? parent->m_hWnd : nullptr)
{}

CDialog::~CDialog()
{
    // A window that outlives its object would call into freed memory.
    if (m_hWnd) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialog::DoModal()
{
    RegisterControlClasses();
    return ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_templateId),
                             AfxGetSafeOwner(m_parent), &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    m_templateId = templateId;
    m_parent = parent ? parent->m_hWnd : nullptr;
    RegisterControlClasses();
    return ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(templateId), m_parent,
                                &CDialog::DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return !exchange.m_bFailed;
}

void CDialog::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog()
{
    ExecuteDialogInit();
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM)
{
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    if (const AFX_MSGMAP_ENTRY* entry = FindEntry(GetMessageMap(), WM_COMMAND, code, id)) {
        (this->*entry->OnCommandHandler)();
        return TRUE;
    }
    if (code == BN_CLICKED && id == IDOK) {
        OnOK();
        return TRUE;
    }
    if (code == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

void CDialog::ExecuteDialogInit()
{
    HINSTANCE resources = AfxGetResourceHandle();
    HRSRC found = ::FindResourceA(resources, MAKEINTRESOURCEA(m_templateId),
                                  MAKEINTRESOURCEA(RT_DLGINIT_RESOURCE));
    if (!found)
        return;
    const DWORD size = ::SizeofResource(resources, found);
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(resources, found)));
    if (!data)
        return;
    // Records of: control id (16 bits), command (16 bits), length (32 bits), data; a zero id ends.
    DWORD offset = 0;
    while (offset + 8 <= size) {
        WORD id = 0;
        WORD command = 0;
        DWORD length = 0;
        std::memcpy(&id, data + offset, 2);
        if (id == 0)
            break;
        std::memcpy(&command, data + offset + 2, 2);
        std::memcpy(&length, data + offset + 4, 4);
        offset += 8;
        if (length > size - offset)
            break;
        if (command == DLGINIT_ADDSTRING) {
            const std::string text(reinterpret_cast<const char*>(data + offset),
                                   strnlen(reinterpret_cast<const char*>(data + offset), length));
            ::SendDlgItemMessageA(m_hWnd, id, CB_ADDSTRING, 0,
                                  reinterpret_cast<LPARAM>(text.c_str()));
        }
        offset += length;
    }
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = true;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    default:
        break;
    }
    if (const AFX_MSGMAP_ENTRY* entry = FindEntry(GetMessageMap(), message, 0, 0)) {
        if (entry->OnHelpHandler)
            return (this->*entry->OnHelpHandler)(reinterpret_cast<HELPINFO*>(lParam)), TRUE;
        if (entry->OnMessageHandler)
            return (this->*entry->OnMessageHandler)(wParam, lParam), TRUE;
    }
    handled = false;
    return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    if (!dialog)
        return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        dialog->PostNcDestroy();
        return FALSE;
    }
    bool handled = false;
    const INT_PTR result = dialog->HandleMessage(message, wParam, lParam, handled);
    if (message == WM_INITDIALOG)
        return result;
    return handled ? TRUE : FALSE;
}

void CDataExchange::Fail()
{
    if (m_hWndLastControl)
        ::SetFocus(m_hWndLastControl);
    m_bFailed = TRUE;
}

HWND CDataExchange::PrepareCtrl(int id)
{
    m_hWndLastControl = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    return m_hWndLastControl;
}

void DDX_Control(CDataExchange* exchange, int id, CWnd& control)
{
    if (exchange->m_bFailed)
        return;
    if (!control.m_hWnd)
        control.m_hWnd = exchange->PrepareCtrl(id);
}

void DDX_Text(CDataExchange* exchange, int id, int& value)
{
    if (exchange->m_bFailed)
        return;
    HWND control = exchange->PrepareCtrl(id);
    if (!exchange->m_bSaveAndValidate) {
        ::SetWindowTextA(control, std::to_string(value).c_str());
        return;
    }
    char text[64] = {};
    ::GetWindowTextA(control, text, sizeof text);
    if (!ParseInteger(text, value)) {
        AfxMessageBox("Please enter a whole number.", MB_OK | MB_ICONEXCLAMATION, 0);
        exchange->Fail();
    }
}

void DDX_Check(CDataExchange* exchange, int id, int& value)
{
    if (exchange->m_bFailed)
        return;
    HWND control = exchange->PrepareCtrl(id);
    if (exchange->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(control, BM_SETCHECK, value, 0);
}

void DDX_CBIndex(CDataExchange* exchange, int id, int& index)
{
    if (exchange->m_bFailed)
        return;
    HWND control = exchange->PrepareCtrl(id);
    if (exchange->m_bSaveAndValidate)
        index = static_cast<int>(::SendMessageA(control, CB_GETCURSEL, 0, 0));
    else
        ::SendMessageA(control, CB_SETCURSEL, index, 0);
}

void DDV_MinMaxInt(CDataExchange* exchange, int value, int minimum, int maximum)
{
    if (exchange->m_bFailed || !exchange->m_bSaveAndValidate)
        return;
    if (value < minimum || value > maximum) {
        const std::string text = "Please enter a whole number from " + std::to_string(minimum) +
                                 " to " + std::to_string(maximum) + ".";
        AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION, 0);
        exchange->Fail();
    }
}
