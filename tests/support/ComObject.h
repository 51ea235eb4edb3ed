// IUnknown for the COM objects of the tests' own: QueryInterface answers from the table of the
// interfaces the object derives from (IUnknown through the first of them), AddRef and Release
// count. ComObject lives on the heap and deletes itself at zero; StackComObject lives on the
// stack or in a fixture, only counts, and notes a Release with no reference left to give back.
#pragma once

#include <unknwn.h>

#include <atomic>

template <typename... Interfaces> class ComInterfaceTable : public Interfaces...
{
protected:
    template <typename Head, typename...> struct Front
    {
        using Type = Head;
    };
    using First = typename Front<Interfaces...>::Type;

    // The interface `iid` names, or null when the object has none of that kind.
    void* Find(REFIID iid)
    {
        if (iid == IID_IUnknown)
            return static_cast<IUnknown*>(static_cast<First*>(this));
        void* found = nullptr;
        (Match<Interfaces>(iid, found), ...);
        return found;
    }

private:
    template <typename Interface> void Match(REFIID iid, void*& found)
    {
        if (!found && iid == __uuidof(Interface))
            found = static_cast<Interface*>(this);
    }
};

template <typename... Interfaces> class ComObject : public ComInterfaceTable<Interfaces...>
{
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = this->Find(iid);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    // The creator holds the first reference.
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> references{1};
};

template <typename... Interfaces> class StackComObject : public ComInterfaceTable<Interfaces...>
{
public:
    explicit StackComObject(ULONG references = 0) : references(references) {}
    virtual ~StackComObject() = default;
    StackComObject(const StackComObject&) = delete;
    StackComObject& operator=(const StackComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = this->Find(iid);
        if (!*out)
            return E_NOINTERFACE;
        ++references;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ++releases;
        if (references == 0) {
            overReleased = true;
            return 0;
        }
        return --references;
    }

    // One more reference handed out, as through an out-parameter, without a call to AddRef.
    template <typename Interface = typename ComInterfaceTable<Interfaces...>::First>
    Interface* HandOut()
    {
        ++references;
        return static_cast<Interface*>(this);
    }

    ULONG References() const { return references; }
    ULONG Releases() const { return releases; }
    bool OverReleased() const { return overReleased; }

private:
    std::atomic<ULONG> references;
    std::atomic<ULONG> releases{0};
    std::atomic<bool> overReleased{false};
};
