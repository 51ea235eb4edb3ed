// Windows and dialogs of the framework subset: a window wrapper, dialogs over resource templates
// (modal and modeless), a small message map, data exchange and validation, and the switch that
// makes this module's resources current.
#pragma once

#include "afx/AfxWin.h"

#include <commctrl.h>

class CWnd
{
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
    void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
    virtual BOOL DestroyWindow();

    HWND m_hWnd = nullptr;

protected:
    // Routes a command through the message map; IDOK and IDCANCEL reach OnOK and OnCancel.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
};

class CEdit : public CWnd
{};

class CStatic : public CWnd
{};

class CProgressCtrl : public CWnd
{};

class CDialog;

// One message map entry: a command notification from a control, or a window message.
struct AFX_MSGMAP_ENTRY
{
    UINT Message;
    UINT Code; // notification code of WM_COMMAND entries
    UINT Id;   // control id of WM_COMMAND entries
    void (CDialog::*OnCommandHandler)();
    LRESULT (CDialog::*OnMessageHandler)(WPARAM, LPARAM);
    BOOL (CDialog::*OnHelpHandler)(HELPINFO*);
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*GetBaseMap)();
    const AFX_MSGMAP_ENTRY* Entries; // ends with an entry whose Message is 0
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }              \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                \
    {                                                                                              \
        using ThisClass = theClass;                                                                \
        using BaseClass = baseClass;                                                               \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                                          \
    {0, 0, 0, nullptr, nullptr, nullptr}                                                           \
    }                                                                                              \
    ;                                                                                              \
    static const AFX_MSGMAP map = {&BaseClass::GetThisMessageMap, entries};                        \
    return &map;                                                                                   \
    }

#define ON_COMMAND_CODE(code, id, handler)                                                         \
    {WM_COMMAND, code, id, static_cast<void (CDialog::*)()>(&ThisClass::handler), nullptr, nullptr},
#define ON_BN_CLICKED(id, handler) ON_COMMAND_CODE(BN_CLICKED, id, handler)
#define ON_CBN_SELCHANGE(id, handler) ON_COMMAND_CODE(CBN_SELCHANGE, id, handler)
#define ON_MESSAGE(message, handler)                                                               \
    {message, 0, 0, nullptr,                                                                       \
     static_cast<LRESULT (CDialog::*)(WPARAM, LPARAM)>(&ThisClass::handler), nullptr},
#define ON_WM_HELPINFO()                                                                           \
    {WM_HELP, 0, 0, nullptr, nullptr,                                                              \
     static_cast<BOOL (CDialog::*)(HELPINFO*)>(&ThisClass::OnHelpInfo)},
// clang-format on

class CDataExchange
{
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate)
    {}

    // Shows nothing itself: the failing routine has shown its message. Focuses the control
    // last exchanged and stops every later step.
    void Fail();
    HWND PrepareCtrl(int id);

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
    BOOL m_bFailed = FALSE;
    HWND m_hWndLastControl = nullptr;
};

class CDialog : public CWnd
{
public:
    CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog owned by AfxGetSafeOwner of the parent, which is disabled meanwhile.
    virtual INT_PTR DoModal();
    // Creates the dialog as a modeless window, without an owner unless a parent is given; the
    // object must outlive the window.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);

    // Moves data between the controls and the fields; FALSE when validation failed.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Ends a modal dialog; hides and ends a modeless one the same way the system does.
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    virtual void DoDataExchange(CDataExchange* exchange);
    virtual void PostNcDestroy() {}
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Fills list and combo boxes from the template's initialisation data, if it has any.
    void ExecuteDialogInit();

    UINT m_templateId;
    HWND m_parent;
};

void DDX_Control(CDataExchange* exchange, int id, CWnd& control);
void DDX_Text(CDataExchange* exchange, int id, int& value);
void DDX_Check(CDataExchange* exchange, int id, int& value);
void DDX_CBIndex(CDataExchange* exchange, int id, int& index);
void DDV_MinMaxInt(CDataExchange* exchange, int value, int minimum, int maximum);

// The resources dialogs and message boxes are loaded from.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE instance);

struct AFX_MODULE_STATE
{
    HINSTANCE m_hCurrentResourceHandle;
};

// The state of the module this code is linked into.
AFX_MODULE_STATE* AfxGetStaticModuleState();

// Makes a module's resources current until the scope ends, on every way out.
class AfxModuleStateScope
{
public:
    explicit AfxModuleStateScope(AFX_MODULE_STATE* state);
    ~AfxModuleStateScope();
    AfxModuleStateScope(const AfxModuleStateScope&) = delete;
    AfxModuleStateScope& operator=(const AfxModuleStateScope&) = delete;

private:
    HINSTANCE previous;
};

#define AFX_MANAGE_STATE(state) AfxModuleStateScope afxModuleStateScope_(state)
