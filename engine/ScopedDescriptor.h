// Owners of a runtime descriptor and a file handle obtained through the engine's seam.
#pragma once

#include "engine/ShredOs.h"

class ScopedDescriptor
{
public:
    ScopedDescriptor(ShredOs& os, int descriptor) : os(os), descriptor(descriptor) {}
    ~ScopedDescriptor() { Close(); }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;

    int Get() const { return descriptor; }
    bool IsOpen() const { return descriptor != -1; }
    void Close()
    {
        if (descriptor != -1)
            os.Close(descriptor);
        descriptor = -1;
    }

private:
    ShredOs& os;
    int descriptor;
};

class ScopedFileHandle
{
public:
    ScopedFileHandle(ShredOs& os, HANDLE handle) : os(os), handle(handle) {}
    ~ScopedFileHandle()
    {
        if (IsValid())
            os.CloseHandle(handle);
    }
    ScopedFileHandle(const ScopedFileHandle&) = delete;
    ScopedFileHandle& operator=(const ScopedFileHandle&) = delete;

    HANDLE Get() const { return handle; }
    bool IsValid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }

private:
    ShredOs& os;
    HANDLE handle;
};
