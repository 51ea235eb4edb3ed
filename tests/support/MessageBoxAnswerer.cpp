#include "MessageBoxAnswerer.h"

int MessageBoxAnswerer::Show(HWND owner, const char* text, UINT)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        texts.push_back(text ? text : "");
        owners.push_back(owner);
    }
    if (WhileShown)
        WhileShown();
    return IDOK;
}

std::vector<std::string> MessageBoxAnswerer::Texts() const
{
    std::lock_guard<std::mutex> guard(lock);
    return texts;
}

std::vector<HWND> MessageBoxAnswerer::Owners() const
{
    std::lock_guard<std::mutex> guard(lock);
    return owners;
}
