#include "MessageBoxAnswerer.h"

#include <mutex>

namespace {
std::mutex answersLock;
std::vector<std::string> texts;
std::vector<HWND> owners;

int Answer(HWND owner, const char* text, UINT)
{
    std::lock_guard<std::mutex> guard(answersLock);
    texts.push_back(text ? text : "");
    owners.push_back(owner);
    return IDOK;
}
} // namespace

MessageBoxAnswerer::MessageBoxAnswerer()
{
    {
        std::lock_guard<std::mutex> guard(answersLock);
        texts.clear();
        owners.clear();
    }
    previous = AfxSetMessageBoxHandler(&Answer);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    AfxSetMessageBoxHandler(previous);
}

std::vector<std::string> MessageBoxAnswerer::Texts() const
{
    std::lock_guard<std::mutex> guard(answersLock);
    return texts;
}

std::vector<HWND> MessageBoxAnswerer::Owners() const
{
    std::lock_guard<std::mutex> guard(answersLock);
    return owners;
}
