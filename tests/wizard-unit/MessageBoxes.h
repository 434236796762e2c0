// Answers the message boxes that a page shows on this thread, and remembers their texts.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    // Texts (ANSI) of the boxes shown so far, in order.
    const std::vector<std::string>& Texts() const { return texts_; }
    void Clear() { texts_.clear(); }

    // Called with each box's text when it shows; returns the button that answers it (IDOK, IDYES...).
    std::function<int(const std::string& text)> answer = [](const std::string&) { return IDOK; };

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_ = nullptr;
    std::vector<std::string> texts_;
};
