#include "CopyPage.h"

#include <windows.h>

#include <string>

#include "Dialogs.h"
#include "Encoding.h"
#include "Pages.h"
#include "ResourceIds.h"
#include "SetupState.h"
#include "Texts.h"
#include "Worker.h"

namespace {

constexpr UINT kPollMilliseconds = 500;
constexpr std::uint32_t kWorkerWaitMilliseconds = 10000;

// Page state that outlives the page's window. The worker's thread handle is not among it: it lives in
// the job (job.worker), which is what waits for the thread in the end.
std::int32_t lastShownPhase = -1;
bool discPromptShown = false;
// Whether the poll timer is set: false while a poll runs (and its boxes are open) and after the end.
bool pollTimerSet = false;

// Posted by the worker when it is done, so that the finish page follows at once rather than up to
// half a second later; the page then polls as a tick of its timer would.
constexpr UINT kWorkerDone = WM_APP + 1;

void TellPageWorkerIsDone(void* page) {
    dialogs::PostToPage(static_cast<HWND>(page), kWorkerDone);
}

void SetPollTimer(HWND page) {
    dialogs::StartTimer(page, kPollMilliseconds);
    pollTimerSet = true;
}

INT_PTR StartCopy(HWND page, InstallJob& job) {
    dialogs::SetPageIcon(page);
    dialogs::SetItemText(page, IDC_VOLUME_TEXT, "");
    dialogs::SetItemText(page, IDC_CURRENT_FILE, "");
    dialogs::SetProgressRange(page, IDC_PROGRESS, 0, static_cast<int>(RequiredMegabytes));

    // No worker exists yet; errorText and createdFiles are still empty from construction.
    Set(job.finished, false);
    Set(job.waitingForDisc, false);
    Set(job.running, true);
    job.currentFile.clear();
    job.bytesCopied = 0;
    job.volumes.clear();
    for (const char* volume : {"data1.cab", "data2.cab", "data3.cab", "data4.cab", "data5.cab", "data6.cab"}) {
        job.volumes.emplace_back(volume);
    }
    job.phase.store(0, std::memory_order_release);
    lastShownPhase = -1;
    // The job's lock was made with the job and lives as long as it, so there is nothing to set up here.

    if (!VolumesPresent(job, true)) {
        dialogs::ShowMessage(page, kTextFilesMissing, MB_OK | MB_ICONWARNING);
        Set(job.running, false);
        return TRUE;
    }
    job.onFinished = TellPageWorkerIsDone;
    job.onFinishedContext = page;
    if (!StartInstallWorker(job)) {
        // Without a worker, finished would never come and the page would poll for ever. Nothing has
        // been written and nothing can be: say so with the engine's own write-failure text, and stay
        // as after missing volumes (not running, no timer), so that Cancel leads to the finish page.
        Set(job.running, false);
        dialogs::ShowMessage(page, kTextWriteFailed, MB_OK | MB_ICONERROR);
        return TRUE;
    }
    SetPollTimer(page);
    return FALSE;
}

// Once per process: the flag is never cleared, so a prompt the user gave up is not shown again.
void PromptForSecondDisc(HWND page, InstallJob& job) {
    discPromptShown = true;
    dialogs::ShowMessage(page, kTextInsertDisc2, MB_OK);
    for (;;) {
        // The worker sleeps while waitingForDisc is set, so this thread alone touches the disc now.
        if (VolumesPresent(job, false)) {
            Set(job.waitingForDisc, false);
            return;
        }
        if (dialogs::ShowMessage(page, kTextRetryDisc2, MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY) {
            Set(job.running, false);
            return;
        }
    }
}

void ShowProgress(HWND page, InstallJob& job) {
    std::int32_t phase = 0;
    std::string currentFile;
    std::int64_t bytesCopied = 0;
    {
        // A copy under the lock, the window calls after it: the extractor never waits on this thread's
        // painting.
        platform::LockGuard guard(job.lock);
        phase = job.phase.load(std::memory_order_acquire);
        currentFile = job.currentFile;
        bytesCopied = job.bytesCopied;
    }
    if (phase != lastShownPhase) {
        lastShownPhase = phase;
        dialogs::SetItemText(page, IDC_VOLUME_TEXT, phase == 0 ? kTextDisc1 : kTextDisc2);
    }
    // Entry names are stored in UTF-8; the label shows the ANSI code page.
    dialogs::SetItemText(page, IDC_CURRENT_FILE, Utf8ToAnsi(currentFile));
    dialogs::SetProgressPosition(page, IDC_PROGRESS, ProgressPosition(bytesCopied));
}

// The timer is killed first and set again only at the end, so polls never overlap and none arrives
// while one of the poll's own boxes is open.
INT_PTR Poll(HWND page, InstallJob& job, WPARAM wParam) {
    dialogs::StopTimer(page);
    pollTimerSet = false;
    if (Get(job.finished)) {
        // errorText is complete before finished is raised.
        if (!job.errorText.empty()) {
            dialogs::ShowMessage(page, MessageForDisplay(job.errorText), MB_OK | MB_ICONERROR);
        } else {
            dialogs::SetItemText(page, IDC_CURRENT_FILE, kTextComplete);
            dialogs::SetProgressPosition(page, IDC_PROGRESS, static_cast<int>(RequiredMegabytes));
        }
        dialogs::EndPage(page, Finish, wParam);
        return TRUE;
    }
    if (Get(job.waitingForDisc) && !discPromptShown) {
        PromptForSecondDisc(page, job);
    } else {
        ShowProgress(page, job);
    }
    SetPollTimer(page);
    return FALSE;
}

INT_PTR Cancel(HWND page, InstallJob& job, WPARAM wParam) {
    if (!Get(job.running)) {
        dialogs::EndPage(page, Finish, wParam);
        return TRUE;
    }
    // Polls go on while the question is open; the page may even end beneath it.
    if (dialogs::ShowMessage(page, kTextConfirmCancel, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        Set(job.running, false);
        dialogs::EnableItem(page, IDCANCEL, false);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int ProgressPosition(std::int64_t bytesCopied) {
    const std::int64_t megabytes = bytesCopied / 1024 / 1024;
    return megabytes > std::int64_t{RequiredMegabytes} ? static_cast<int>(RequiredMegabytes)
                                                       : static_cast<int>(megabytes);
}

INT_PTR CALLBACK CopyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    // The one job of the process, made on the page's first message and destroyed at exit; its
    // destruction joins the worker for good, however long a roll-back takes.
    static InstallJob job;
    switch (message) {
        case WM_INITDIALOG:
            return StartCopy(page, job);
        case WM_TIMER:
            return Poll(page, job, wParam);
        case kWorkerDone:
            // A poll under way (one of its boxes is open) sets the timer again when it is over, and
            // its next tick ends the page; polls never overlap.
            return pollTimerSet ? Poll(page, job, 0) : TRUE;
        case WM_COMMAND:
            return LOWORD(wParam) == IDCANCEL ? Cancel(page, job, wParam) : FALSE;
        case WM_DESTROY:
            // The extractor can raise finished before the worker's roll-back is over, so the page gives
            // the worker up to ten seconds before the finish page shows. The thread handle and the lock
            // are not released here: both belong to the job, which outlives the page and joins the
            // worker when it is destroyed, so a slow worker never acts on a freed lock or job.
            platform::WaitForThread(job.worker, kWorkerWaitMilliseconds);
            dialogs::StopTimer(page);
            return FALSE;
        default:
            return FALSE;
    }
}
