// Owners of what the shell hands out: an interface pointer, and an item ID list that its
// allocator frees. Each is released once, and only when it was obtained.
#pragma once

#include <shlobj.h>

template <typename Interface> class ComHolder
{
public:
    ComHolder() = default;
    ~ComHolder() { Reset(); }
    ComHolder(const ComHolder&) = delete;
    ComHolder& operator=(const ComHolder&) = delete;

    Interface* Get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    Interface** Receive()
    {
        Reset();
        return &pointer;
    }
    void Reset()
    {
        if (pointer)
            pointer->Release();
        pointer = nullptr;
    }

private:
    Interface* pointer = nullptr;
};

class IdListHolder
{
public:
    explicit IdListHolder(const ComHolder<IMalloc>& allocator) : allocator(allocator) {}
    ~IdListHolder() { Reset(); }
    IdListHolder(const IdListHolder&) = delete;
    IdListHolder& operator=(const IdListHolder&) = delete;

    ITEMIDLIST* Get() const { return idList; }
    ITEMIDLIST** Receive()
    {
        Reset();
        return &idList;
    }
    void Reset()
    {
        if (idList && allocator.Get())
            allocator->Free(idList);
        idList = nullptr;
    }

private:
    const ComHolder<IMalloc>& allocator;
    ITEMIDLIST* idList = nullptr;
};
