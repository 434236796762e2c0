// One timed run of the wizard for the wizard benchmark:
//   wizard_bench SETUP_EXE INSTALL_FOLDER
// walks to the ready page with INSTALL_FOLDER typed in, presses Next and times the copy until the
// finish page shows. Meanwhile a second thread pings the copy page every 50 ms with
// SendMessageTimeout and keeps the longest answer: the longest time the page's thread did not answer
// its messages. Prints "seconds S longest_answer_ms M pings N"; exit code 0 only when the run
// reached the finish page without a message box.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "UiDriver.h"
#include "WizardRun.h"

namespace {

constexpr DWORD kPingPeriodMs = 50;
// A ping that gets no answer in this time is counted with this time.
constexpr UINT kPingTimeoutMs = 10000;
// Every look at the pages is a round of calls through wineserver, which the copy needs too: looking
// less often disturbs the run less, and 20 ms is still under 1 % of the shortest run measured.
constexpr DWORD kPagePollMs = 20;
constexpr double kCopyTimeoutSeconds = 1800;

double Now() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Pinger {
    std::atomic<HWND> target{nullptr};
    std::atomic<bool> stop{false};
    double longestMs = 0;
    long pings = 0;

    void Run() {
        double next = Now();
        while (!stop.load(std::memory_order_acquire)) {
            HWND page = target.load(std::memory_order_acquire);
            if (page != nullptr) {
                const double start = Now();
                DWORD_PTR ignored = 0;
                const LRESULT answered = SendMessageTimeoutW(page, WM_NULL, 0, 0, SMTO_NORMAL, kPingTimeoutMs, &ignored);
                const double ms = (Now() - start) * 1000.0;
                // A page that is gone does not answer either; only a living page's silence counts.
                if (answered != 0 || IsWindow(page)) {
                    longestMs = std::max(longestMs, answered != 0 ? ms : double{kPingTimeoutMs});
                    ++pings;
                }
            }
            next += kPingPeriodMs / 1000.0;
            const double wait = next - Now();
            if (wait > 0) {
                Sleep(static_cast<DWORD>(wait * 1000.0));
            } else {
                next = Now();
            }
        }
    }
};

}  // namespace

int main() {
    const std::vector<std::wstring> arguments = demo::Arguments();
    if (arguments.size() != 2) {
        demo::Say("usage: wizard_bench SETUP_EXE INSTALL_FOLDER");
        return 2;
    }
    ui::Wizard setup(arguments[0]);
    if (!setup.started()) {
        demo::Say("wizard_bench: Setup.exe could not be started");
        return 1;
    }
    int pictureNumber = 0;
    std::string failure;
    HWND ready = demo::WalkToReadyPage(setup, arguments[1], L"", &pictureNumber, &failure);
    if (ready == nullptr) {
        demo::Say("wizard_bench: " + failure);
        return 1;
    }

    Pinger pinger;
    std::thread pingThread([&] { pinger.Run(); });
    const double start = Now();
    ui::Click(ready, demo::kNext);
    double end = 0;
    HWND box = nullptr;
    for (;;) {
        HWND page = nullptr;
        const ui::PageKind kind = setup.CurrentPage(&page);
        if (kind == ui::PageKind::Finish) {
            end = Now();
            break;
        }
        if (kind == ui::PageKind::Copy && pinger.target.load(std::memory_order_relaxed) != page) {
            pinger.target.store(page, std::memory_order_release);
        }
        box = setup.FindAnyMessageBox();
        if (box != nullptr || setup.HasExited() || Now() - start > kCopyTimeoutSeconds) {
            break;
        }
        Sleep(kPagePollMs);
    }
    pinger.stop.store(true, std::memory_order_release);
    pingThread.join();
    if (end == 0) {
        demo::Say("wizard_bench: no finish page" +
                  (box != nullptr ? "; the wizard shows: " + ui::Narrow(ui::MessageBoxText(box)) : std::string()));
        return 1;
    }
    HWND finish = nullptr;
    setup.CurrentPage(&finish);
    ui::Click(finish, IDCANCEL);
    DWORD exitCode = 0;
    setup.WaitForExit(&exitCode, ui::kTimeoutMs);

    char line[128];
    std::snprintf(line, sizeof line, "seconds %.3f longest_answer_ms %.1f pings %ld", end - start, pinger.longestMs,
                  pinger.pings);
    demo::Say(line);
    return 0;
}
