// Answers every AfxMessageBox with OK while it lives, and remembers the texts, and the owners
// the boxes would have had, in order.
#pragma once

#include "afx/AfxWin.h"

#include <string>
#include <vector>

class MessageBoxAnswerer
{
public:
    MessageBoxAnswerer();
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    std::vector<std::string> Texts() const;
    std::vector<HWND> Owners() const;

private:
    AfxMessageBoxHandler previous;
};
