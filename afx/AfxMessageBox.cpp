#include "AfxWin.h"

#include <atomic>

namespace {
std::atomic<AfxMessageBoxHandler> messageBoxHandler{nullptr};
}

int AfxMessageBox(const char* text, UINT type, UINT)
{
    if (AfxMessageBoxHandler handler = messageBoxHandler.load())
        return handler(text, type);
    return ::MessageBoxA(nullptr, text, "Orlenwick", type);
}

AfxMessageBoxHandler AfxSetMessageBoxHandler(AfxMessageBoxHandler handler)
{
    return messageBoxHandler.exchange(handler);
}
