// A context-menu handler of the server as the shell holds it: made through the started module's
// class factory in a single-threaded apartment, asked for as `Created` and then for its two
// interfaces; at the end the server holds no lock once they are given back.
#pragma once

#include "ServerObject.h"
#include "ShellSelection.h"
#include "common/TextConversion.h"
#include "common/Unique.h"
#include "shellext/ClassTable.h"
#include "shellext/ServerModule.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

template <typename Handler> class MenuHandlerTest : public ::testing::Test
{
protected:
    MenuHandlerTest(REFCLSID classId, REFIID created) : classId(classId), created(created) {}

    void SetUp() override
    {
        Module.Start(ClassTable, ::GetModuleHandleA(nullptr));
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        UniqueCom<IUnknown> object;
        ASSERT_EQ(CreateServerObject(classId, created, reinterpret_cast<void**>(object.Receive())),
                  S_OK);
        ASSERT_EQ(
            object->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(Init.Receive())),
            S_OK);
        ASSERT_EQ(
            object->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(Menu.Receive())),
            S_OK);
        Object = static_cast<Handler*>(Init.Get());
    }

    void TearDown() override
    {
        // The object goes with its last interface, and with it the server lock it held.
        Init.Reset();
        Menu.Reset();
        EXPECT_EQ(Module.LockCount, 0);
        Module.Stop();
        ::CoUninitialize();
    }

    HRESULT Initialize(IDataObject* data) { return Init->Initialize(nullptr, data, nullptr); }
    // The shell's own data object for these files.
    HRESULT Initialize(const std::vector<std::string>& paths)
    {
        return Initialize(ShellSelection(paths).Get());
    }

    // The help text of the one command in both widths; every other string, and every other
    // command's, refused with the buffer left alone.
    void ExpectOnlyHelpText(const std::string& text)
    {
        for (UINT type : {GCS_VERBA, GCS_VERBW, GCS_VALIDATEA, GCS_VALIDATEW}) {
            char buffer[64];
            std::memset(buffer, 'Z', sizeof buffer);
            EXPECT_EQ(Menu->GetCommandString(0, type, nullptr, buffer, 32), E_INVALIDARG) << type;
            EXPECT_EQ(buffer[0], 'Z');
        }
        char narrow[64] = {};
        EXPECT_EQ(Menu->GetCommandString(1, GCS_HELPTEXTA, nullptr, narrow, sizeof narrow),
                  E_INVALIDARG);
        EXPECT_EQ(Menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, sizeof narrow), S_OK);
        EXPECT_EQ(narrow, text);
        wchar_t wide[64] = {};
        EXPECT_EQ(
            Menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 64),
            S_OK);
        EXPECT_EQ(wide, Widen(text));
    }

    static CMINVOKECOMMANDINFO Command(LPCSTR verb)
    {
        CMINVOKECOMMANDINFO invoke = {};
        invoke.cbSize = sizeof invoke;
        invoke.lpVerb = verb;
        invoke.nShow = SW_SHOWNORMAL;
        return invoke;
    }

    // The text of a menu item, by position or (MF_BYCOMMAND) by identifier.
    static std::string MenuText(HMENU menu, UINT item, UINT by = MF_BYPOSITION)
    {
        char text[128] = {};
        ::GetMenuStringA(menu, item, text, sizeof text, by);
        return text;
    }

    UniqueCom<IShellExtInit> Init;
    UniqueCom<IContextMenu> Menu;
    Handler* Object = nullptr;

private:
    const CLSID classId;
    const IID created;
};
