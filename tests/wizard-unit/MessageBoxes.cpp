#include "MessageBoxes.h"

namespace {

MessageBoxes* current = nullptr;

// The text of a message box is the static control 0xFFFF, on Windows and on Wine alike.
constexpr int kBoxTextId = 0xFFFF;

}  // namespace

MessageBoxes::MessageBoxes() {
    current = this;
    hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

MessageBoxes::~MessageBoxes() {
    UnhookWindowsHookEx(hook_);
    current = nullptr;
}

LRESULT CALLBACK MessageBoxes::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current != nullptr) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[16] = {};
        GetClassNameA(window, className, sizeof className);
        HWND textControl = GetDlgItem(window, kBoxTextId);
        if (lstrcmpA(className, "#32770") == 0 && textControl != nullptr) {
            char text[1024] = {};
            GetWindowTextA(textControl, text, sizeof text);
            current->texts_.emplace_back(text);
            // Answered once the box runs its own loop; activation is too early to end it.
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(current->answer(text), BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
