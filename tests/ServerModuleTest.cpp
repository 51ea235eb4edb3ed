// The server module around the one creatable class: class objects and their cache, server locks,
// plain and aggregated creation, the object's interface table, the clean-up list, and the
// framework's application lock that running workers and progress windows hold.
#include "common/ComObject.h"
#include "Captions.h"
#include "DialogDriver.h"
#include "FakeShredOs.h"
#include "MessageBoxAnswerer.h"
#include "RecordingWindow.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "WorkerJob.h"
#include "afx/AfxApp.h"
#include "afx/AfxWin.h"
#include "core/ShredThread.h"
#include "resources/resource.h"
#include "shellext/ClassTable.h"
#include "shellext/QuorvaneShlExt.h"
#include "shellext/ServerModule.h"
#include "ui/ShredProgressDlg.h"

#include <gtest/gtest.h>

#include <ocidl.h>

#include <vector>

namespace {

// An address no interface lives at, so a test sees whether a call cleared its out-pointer.
void* const Untouched = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5EED));

// An outer object that aggregates the server's object: answers only IUnknown itself and counts
// what reaches it, starting with the creator's reference. It lives on the stack, so its count
// never destroys it.
class CountingOuter : public StackComObject<IUnknown>
{
public:
    CountingOuter() : StackComObject(1) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        Asked.push_back(riid);
        return StackComObject::QueryInterface(riid, ppv);
    }

    std::vector<IID> Asked;
};

class ServerModuleTest : public ::testing::Test
{
protected:
    void SetUp() override { Module.Start(ClassTable, ::GetModuleHandleA(nullptr)); }
    void TearDown() override
    {
        // Every test gives back every lock it took.
        EXPECT_EQ(Module.LockCount, 0);
        EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
        Module.Stop();
    }

    IClassFactory* Factory()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(Module.FindClassObject(CLSID_QuorvaneShlExt, IID_IClassFactory,
                                         reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }

    // A new object from the factory, which is given back at once; null when there is none.
    IUnknown* CreateObject()
    {
        IClassFactory* factory = Factory();
        if (!factory)
            return nullptr;
        IUnknown* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
                  S_OK);
        factory->Release();
        return object;
    }
};

TEST_F(ServerModuleTest, AFactoryReferenceBeyondTheCachedOneHoldsOneLock)
{
    EXPECT_EQ(Module.LockCount, 0);
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(Module.LockCount, 1);
    EXPECT_EQ(static_cast<void*>(factory), static_cast<void*>(ClassTable[0].ClassObject.load()));

    // Further references share that one lock.
    IClassFactory* again = Factory();
    EXPECT_EQ(again, factory);
    factory->AddRef();
    EXPECT_EQ(Module.LockCount, 1);
    factory->Release();
    again->Release();
    EXPECT_EQ(Module.LockCount, 1);

    factory->Release();
    EXPECT_EQ(Module.LockCount, 0);
    // The cache keeps the factory without keeping the server loaded.
    EXPECT_NE(ClassTable[0].ClassObject.load(), nullptr);
}

TEST_F(ServerModuleTest, LockServerCountsLocksAndUnlocks)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(Module.LockCount, 1);
    // The framework alone would let the module go: the server lock must be counted too.
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);

    factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(Module.LockCount, 0);
}

TEST_F(ServerModuleTest, ALiveObjectHoldsOneLockUntilItsLastRelease)
{
    IUnknown* object = CreateObject();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(Module.LockCount, 1);

    IContextMenu* menu = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    EXPECT_EQ(object->AddRef(), 3u);
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(menu->Release(), 1u);
    EXPECT_EQ(Module.LockCount, 1);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(Module.LockCount, 0);
}

TEST_F(ServerModuleTest, ClassesOutsideTheTableAreNotAvailable)
{
    const CLSID unknown = {0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (const CLSID* clsid : {&unknown, &CLSID_ShredConfDlg, &IID_IQuorvaneShlExt}) {
        void* out = Untouched;
        EXPECT_EQ(Module.FindClassObject(*clsid, IID_IClassFactory, &out),
                  CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(ClassTable[0].ClassObject.load(), nullptr);
    EXPECT_EQ(Module.FindClassObject(CLSID_QuorvaneShlExt, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ServerModuleTest, AnInterfaceTheFactoryLacksIsRefusedAndTheFactoryStaysCached)
{
    void* out = Untouched;
    EXPECT_EQ(Module.FindClassObject(CLSID_QuorvaneShlExt, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    IUnknown* cached = ClassTable[0].ClassObject.load();
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(Module.LockCount, 0);

    IClassFactory* factory = Factory();
    EXPECT_EQ(static_cast<void*>(factory), static_cast<void*>(cached));
    EXPECT_EQ(ClassTable[0].ClassObject.load(), cached);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(factory));
    unknown->Release();
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
    factory->Release();
}

TEST_F(ServerModuleTest, CreateInstanceRefusesWhatItCannotMakeWithoutMakingAnything)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);

    CountingOuter outer;
    void* out = Untouched;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IContextMenu, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Module.LockCount, 1);
    EXPECT_EQ(outer.References(), 1u);
    EXPECT_TRUE(outer.Asked.empty());

    // An interface the object lacks: the object made for the query is destroyed again.
    out = Untouched;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Module.LockCount, 1);
    factory->Release();
}

TEST_F(ServerModuleTest, AnAggregatedObjectCountsThroughItsOuterObject)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    factory->Release();
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(inner, static_cast<IUnknown*>(&outer));
    EXPECT_EQ(Module.LockCount, 1);
    EXPECT_EQ(outer.References(), 1u);

    // The inner interfaces count on the outer object.
    IContextMenu* menu = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    EXPECT_EQ(outer.References(), 2u);
    EXPECT_EQ(menu->AddRef(), 3u);
    EXPECT_EQ(menu->Release(), 2u);
    // The aggregate's own unknown has a count of its own.
    EXPECT_EQ(inner->AddRef(), 2u);
    EXPECT_EQ(inner->Release(), 1u);
    IUnknown* self = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
    EXPECT_EQ(self, inner);
    EXPECT_EQ(self->Release(), 1u);
    EXPECT_EQ(outer.References(), 2u);

    // Identity belongs to the outer object; what it lacks, the inner object answers.
    IUnknown* identity = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    IShellExtInit* init = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    ASSERT_EQ(outer.Asked.size(), 2u);
    EXPECT_EQ(outer.Asked[1], IID_IShellExtInit);
    IShellExtInit* direct = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&direct)), S_OK);
    EXPECT_EQ(init, direct);
    EXPECT_EQ(outer.References(), 4u);
    direct->Release();
    init->Release();
    void* out = Untouched;
    EXPECT_EQ(menu->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    menu->Release();
    EXPECT_EQ(outer.References(), 1u);
    EXPECT_EQ(Module.LockCount, 1);

    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(Module.LockCount, 0);
    EXPECT_EQ(outer.References(), 1u);
}

TEST_F(ServerModuleTest, TheObjectAnswersExactlyItsFiveInterfaces)
{
    IUnknown* object = CreateObject();
    ASSERT_NE(object, nullptr);

    void* shlExt = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IQuorvaneShlExt, &shlExt), S_OK);
    EXPECT_EQ(shlExt, static_cast<void*>(object));
    void* dispatch = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    EXPECT_EQ(dispatch, shlExt);
    static_cast<IUnknown*>(dispatch)->Release();
    static_cast<IUnknown*>(shlExt)->Release();

    for (const IID* iid : {&IID_IUnknown, &IID_IQuorvaneShlExt, &IID_IDispatch, &IID_IShellExtInit,
                           &IID_IContextMenu}) {
        IUnknown* answer = nullptr;
        ASSERT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&answer)), S_OK);
        ASSERT_NE(answer, nullptr);
        // Every interface leads back to the same identity.
        IUnknown* identity = nullptr;
        ASSERT_EQ(answer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, object);
        identity->Release();
        answer->Release();
    }

    for (const IID* iid : {&IID_IClassFactory, &IID_IContextMenu2, &IID_IContextMenu3,
                           &IID_IPersist, &IID_IObjectWithSite, &IID_IShellPropSheetExt,
                           &IID_IShredConfDlg, &IID_IMarshal, &IID_IDropTarget}) {
        void* out = Untouched;
        EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IContextMenu, nullptr), E_POINTER);

    EXPECT_EQ(Module.LockCount, 1);
    EXPECT_EQ(object->Release(), 0u);
}

struct CleanupRecord
{
    std::vector<int>* Log;
    int Id;
};

void RecordCleanup(void* argument)
{
    auto* record = static_cast<CleanupRecord*>(argument);
    record->Log->push_back(record->Id);
}

TEST_F(ServerModuleTest, StopRunsTheCleanupsNewestFirstOnceAndDropsTheCachedFactory)
{
    std::vector<int> log;
    CleanupRecord first{&log, 1}, second{&log, 2}, third{&log, 3};
    EXPECT_EQ(Module.AddCleanup(&RecordCleanup, &first), S_OK);
    EXPECT_EQ(Module.AddCleanup(&RecordCleanup, &second), S_OK);
    EXPECT_EQ(Module.AddCleanup(&RecordCleanup, &third), S_OK);
    Factory()->Release();
    ASSERT_NE(ClassTable[0].ClassObject.load(), nullptr);
    EXPECT_TRUE(log.empty());

    Module.Stop();
    EXPECT_EQ(log, (std::vector<int>{3, 2, 1}));
    EXPECT_TRUE(Module.Cleanups.empty());
    EXPECT_EQ(ClassTable[0].ClassObject.load(), nullptr);

    Module.Start(ClassTable, ::GetModuleHandleA(nullptr));
    Module.Stop();
    EXPECT_EQ(log.size(), 3u);
    Module.Start(ClassTable, ::GetModuleHandleA(nullptr));
}

// Workers and progress windows outlive the object that started them: the module's lock count
// does not see them, the framework's application lock does.
TEST_F(ServerModuleTest, EveryWorkerHoldsTheApplicationFromConstructionToDestruction)
{
    auto* first = new CShredThread;
    auto* second = new CShredThread;
    EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(Module.LockCount, 0);
    delete first;
    EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
    delete second;
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
}

TEST_F(ServerModuleTest, ARunningWorkerKeepsTheModuleNeededUntilItsThreadHasEnded)
{
    TempFolder folder;
    const std::string path = folder / "item.bin";
    WriteBytes(path, std::vector<unsigned char>(700, 0x42));
    RecordingWindow window;
    FakeShredOs os;
    const ShredSettings settings = SettingsOf(MethodRandomData, 1, true, false);
    {
        WorkerJob job(window.Handle(), settings, &os);
        {
            // The worker waits for the lock with its job in hand, as behind another item.
            CSingleLock held(&CShredThread::ShredLock, TRUE);
            job.Start(WorkerItem{path, 0, false});
            ::Sleep(50);
            EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
            EXPECT_EQ(Module.LockCount, 0);
        }
        ASSERT_TRUE(job.Join());
    }
    EXPECT_TRUE(window.WaitForFinished(1));
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
}

TEST_F(ServerModuleTest, AProgressWindowKeepsTheModuleNeededUntilItHasDestroyedItself)
{
    MessageBoxAnswerer boxes;
    {
        CShredProgressDlg unshown(false, {"C:\\one"});
        EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);

    HWND window = nullptr;
    UiThread ui(
        [&] {
            auto* progress = new CShredProgressDlg(false, {"C:\\one"});
            if (progress->Create(IDD_SHRED_PROGRESS, nullptr)) {
                progress->ShowWindow(SW_SHOW);
                window = progress->m_hWnd;
            } else {
                delete progress;
            }
        },
        [&] { return !::IsWindow(window); });
    HWND shown = WaitForDialog(ShredProgressCaption);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
    ::SendMessageA(shown, WM_COMMAND, MakeShredWParam(0, ShredStatusCommand(StatusFinished)), 0);
    ASSERT_TRUE(ui.Join());
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
}

} // namespace
