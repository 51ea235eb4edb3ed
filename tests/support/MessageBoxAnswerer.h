// Answers every AfxMessageBox with OK while it lives, and remembers the texts, and the owners
// the boxes would have had, in order.
#pragma once

#include "afx/AfxWin.h"
#include "common/Seam.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MessageBoxAnswerer : public AfxMessageBoxes
{
public:
    MessageBoxAnswerer() = default;
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    int Show(HWND owner, const char* text, UINT type) override;

    std::vector<std::string> Texts() const;
    std::vector<HWND> Owners() const;

    // Runs on the box's thread before each answer, as a real box's own message loop would.
    std::function<void()> WhileShown;

private:
    mutable std::mutex lock;
    std::vector<std::string> texts;
    std::vector<HWND> owners;
    Seam<AfxMessageBoxes>::Substitute inPlace{*this};
};
