#include "MessageBoxAnswerer.h"

#include <mutex>

namespace {
std::mutex textsLock;
std::vector<std::string> texts;

int Answer(const char* text, UINT)
{
    std::lock_guard<std::mutex> guard(textsLock);
    texts.push_back(text ? text : "");
    return IDOK;
}
} // namespace

MessageBoxAnswerer::MessageBoxAnswerer()
{
    {
        std::lock_guard<std::mutex> guard(textsLock);
        texts.clear();
    }
    previous = AfxSetMessageBoxHandler(&Answer);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    AfxSetMessageBoxHandler(previous);
}

std::vector<std::string> MessageBoxAnswerer::Texts() const
{
    std::lock_guard<std::mutex> guard(textsLock);
    return texts;
}
