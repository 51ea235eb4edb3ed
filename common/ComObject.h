// IUnknown for the COM objects the shell stand-in and the tests make of their own (data objects,
// sites, callbacks): QueryInterface answers from the table of the interfaces the object derives
// from (IUnknown through the first of them), AddRef and Release count. ComObject lives on the heap
// and deletes itself at zero; StackComObject lives on the stack or in a fixture, only counts, and
// notes a Release with no reference left to give back.
#pragma once

#include <unknwn.h>

#include <atomic>

// The interface table and the count both ways of living share.
template <typename... Interfaces> class ComCounting : public Interfaces...
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown)
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        else
            (Match<Interfaces>(iid, *out), ...);
        if (!*out)
            return E_NOINTERFACE;
        ++references;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }

protected:
    template <typename Head, typename...> struct Front
    {
        using Type = Head;
    };
    using First = typename Front<Interfaces...>::Type;

    explicit ComCounting(ULONG references) : references(references) {}

    std::atomic<ULONG> references;

private:
    template <typename Interface> void Match(REFIID iid, void*& found)
    {
        if (!found && iid == __uuidof(Interface))
            found = static_cast<Interface*>(this);
    }
};

template <typename... Interfaces> class ComObject : public ComCounting<Interfaces...>
{
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --this->references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    // The creator holds the first reference.
    ComObject() : ComCounting<Interfaces...>(1) {}
    virtual ~ComObject() = default;
};

template <typename... Interfaces> class StackComObject : public ComCounting<Interfaces...>
{
public:
    explicit StackComObject(ULONG references = 0) : ComCounting<Interfaces...>(references) {}
    virtual ~StackComObject() = default;
    StackComObject(const StackComObject&) = delete;
    StackComObject& operator=(const StackComObject&) = delete;

    STDMETHODIMP_(ULONG) Release() override
    {
        ++releases;
        if (this->references == 0) {
            overReleased = true;
            return 0;
        }
        return --this->references;
    }

    // One more reference handed out, as through an out-parameter, without a call to AddRef.
    template <typename Interface = typename ComCounting<Interfaces...>::First> Interface* HandOut()
    {
        ++this->references;
        return static_cast<Interface*>(this);
    }

    ULONG References() const { return this->references; }
    ULONG Releases() const { return releases; }
    bool OverReleased() const { return overReleased; }

private:
    std::atomic<ULONG> releases{0};
    std::atomic<bool> overReleased{false};
};
