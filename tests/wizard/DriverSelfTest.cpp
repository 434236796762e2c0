// The driver's Esc is the key as the keyboard gives it: a dialog's own message loop (IsDialogMessage)
// turns it into IDCANCEL, and a loop without the dialog manager does not.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "UiDriver.h"

namespace {

std::atomic<int> cancelCommands{0};
std::atomic<bool> markerSeen{false};
constexpr UINT kMarker = WM_APP + 1;

INT_PTR CALLBACK ProbeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        ++cancelCommands;
        DestroyWindow(dialog);
        return TRUE;
    }
    if (message == kMarker) {
        markerSeen = true;
        return TRUE;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
    }
    return FALSE;
}

// A modeless dialog with an edit box and a Cancel button, from an in-memory template.
HWND CreateProbe() {
    alignas(4) static WORD buffer[256];
    std::fill(std::begin(buffer), std::end(buffer), 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(buffer);
    dialog->style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME;
    dialog->cdit = 2;
    dialog->cx = 120;
    dialog->cy = 60;
    WORD* p = reinterpret_cast<WORD*>(dialog + 1) + 3;  // no menu, class or title
    auto item = [&](DWORD style, short x, WORD id, WORD classAtom) {
        p = reinterpret_cast<WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
        auto* t = reinterpret_cast<DLGITEMTEMPLATE*>(p);
        t->style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | style;
        t->x = x;
        t->y = 10;
        t->cx = 40;
        t->cy = 14;
        t->id = id;
        p = reinterpret_cast<WORD*>(t + 1);
        *p++ = 0xFFFF;
        *p++ = classAtom;
        *p++ = 0;  // no text
        *p++ = 0;  // no creation data
    };
    item(ES_AUTOHSCROLL | WS_BORDER, 10, 100, 0x0081);  // edit
    item(BS_PUSHBUTTON, 60, IDCANCEL, 0x0080);          // button
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, nullptr, ProbeProc, 0);
}

// Runs the probe on a thread of its own, with or without the dialog manager in its message loop, and
// sends it the driver's Esc; true when the probe got IDCANCEL.
bool EscapeBecomesCancel(bool dialogManager) {
    cancelCommands = 0;
    markerSeen = false;
    std::atomic<HWND> probe{nullptr};
    std::thread owner([&] {
        HWND dialog = CreateProbe();
        SetFocus(GetDlgItem(dialog, 100));
        probe = dialog;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (dialogManager && IsDialogMessageW(dialog, &msg)) {
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (IsWindow(dialog)) {
            DestroyWindow(dialog);
        }
    });
    bool cancelled = false;
    if (ui::WaitFor([&] { return probe.load() != nullptr; })) {
        HWND dialog = probe;
        EXPECT_EQ(ui::FocusedControl(dialog), GetDlgItem(dialog, 100));
        EXPECT_TRUE(ui::PressEscape(dialog));
        // The loop takes posted messages in order: once this marker is through, so is the key.
        const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        PostMessageW(dialog, kMarker, 0, 0);
        EXPECT_TRUE(ui::WaitFor([&] { return markerSeen || cancelCommands > 0; }));
        cancelled = cancelCommands > 0;
        if (!cancelled) {
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            PostThreadMessageW(thread, WM_QUIT, 0, 0);
        }
    }
    owner.join();
    return cancelled;
}

TEST(DriverSelfTest, EscapeGoesThroughTheDialogManager) {
    EXPECT_TRUE(EscapeBecomesCancel(true));
}

TEST(DriverSelfTest, EscapeWithoutTheDialogManagerIsJustAKey) {
    EXPECT_FALSE(EscapeBecomesCancel(false));
}

TEST(DriverSelfTest, RunsInTheBig5CodePage) {
    // The wizard's texts are Big5 narrow strings; the comparisons in the ANSI code page need 950.
    EXPECT_EQ(GetACP(), 950u) << "run with LANG=zh_TW.UTF-8";
}

}  // namespace
