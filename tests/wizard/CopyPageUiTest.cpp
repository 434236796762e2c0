// The copy page and the whole setup, end to end with the real Setup.exe: two discs in the drive D:,
// cancelling, failures, and what opens after the run. Every run is checked on disk afterwards.
#include <algorithm>

#include "InstallScenario.h"
#include "VolumeWriter.h"

using ui::PageKind;

namespace {

// Enough small files that each disc takes a good number of the page's half-second polls under Wine.
constexpr int kPacingFiles = 300;
constexpr std::size_t kLargeFile = 6u << 20;

bool PackHasName(const VoicePack& pack, const std::wstring& shown) {
    const std::string name = ui::Narrow(shown);
    for (const auto& volume : pack.volumes) {
        for (const PackFile& file : volume) {
            if (file.name == name) {
                return true;
            }
        }
    }
    return false;
}

size_t IndexOf(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
}

bool HasButtons(HWND box, std::initializer_list<int> ids) {
    return std::all_of(ids.begin(), ids.end(), [&](int id) { return ui::HasControl(box, id); });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return text;
}

// What the stand-in browser must have been asked to open after a successful run: the maker's page
// when Wine says the computer is online, else the game's local page if the pack brought one.
void ExpectPostInstallPage(const std::vector<std::string>& opened, const std::wstring& installFolder,
                           bool packHasLocalPage) {
    if (WineSaysOnline()) {
        ASSERT_EQ(opened.size(), 1u) << "the maker's page, once";
        EXPECT_NE(opened[0].find("http://"), std::string::npos) << opened[0];
        EXPECT_NE(opened[0].find(kMakerPagePath), std::string::npos) << opened[0];
        EXPECT_EQ(opened[0].find("install.html"), std::string::npos) << opened[0];
    } else if (packHasLocalPage) {
        ASSERT_EQ(opened.size(), 1u) << "the local page, once";
        EXPECT_NE(Lower(opened[0]).find(Lower(ui::Narrow(installFolder) + "\\Bin\\install.html")), std::string::npos)
            << opened[0];
    } else {
        EXPECT_TRUE(opened.empty()) << opened.front();
    }
}

// --- Two discs in the drive -----------------------------------------------------------------------

class TwoDiscInstall : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        if (!drive_.ok()) {
            GTEST_SKIP() << "no CD-ROM drive D: on UI_CDROM_DIR; run_ui_tests.sh makes one";
        }
    }

    // Runs the copy page up to the second-disc prompt; returns the prompt.
    HWND CopyUntilPrompt(HWND page, CopyWatch& watch) {
        HWND prompt = nullptr;
        EXPECT_TRUE(Watch(page, watch, [&] { return (prompt = ui::FindMessageBox(page)) != nullptr; }))
            << watch.Describe() << "; " << wizard_->Describe();
        if (prompt != nullptr) {
            EXPECT_EQ(ui::MessageBoxText(prompt), kInsertDisc2Text);
            EXPECT_EQ(ui::Text(prompt), kBoxCaption);
            EXPECT_TRUE(HasButtons(prompt, {IDOK})) << "an OK box";
            EXPECT_FALSE(ui::HasControl(prompt, IDCANCEL));
        }
        return prompt;
    }

    // Watches the page to its end; fails on any box on the way.
    HWND CopyUntilFinish(HWND page, CopyWatch& watch) {
        HWND box = nullptr;
        EXPECT_TRUE(Watch(page, watch, [&] {
            box = ui::FindMessageBox(page);
            return box != nullptr || wizard_->CurrentPage() == PageKind::Finish;
        })) << watch.Describe();
        EXPECT_EQ(box, nullptr) << "unexpected box \"" << ui::Narrow(ui::MessageBoxText(box)) << "\"";
        return box == nullptr ? Expect(PageKind::Finish) : nullptr;
    }

    // Lays the pack out, copies the first disc and answers the prompt with OK while the first disc is
    // still in: returns the retry box that follows, and the copy page in page.
    HWND OkWithTheFirstDiscIn(const VoicePack& pack, HWND* page) {
        EXPECT_TRUE(drive_.LayOut(pack));
        *page = WalkToCopy(CdDrive::SetupPath(), installFolder_);
        CopyWatch watch;
        HWND prompt = *page != nullptr ? CopyUntilPrompt(*page, watch) : nullptr;
        if (prompt == nullptr) {
            return nullptr;
        }
        Answer(prompt, IDOK);
        HWND retry = ExpectBox(*page, kRetryDisc2Text);
        EXPECT_TRUE(retry == nullptr || HasButtons(retry, {IDRETRY, IDCANCEL}));
        return retry;
    }

    CdDrive drive_;
};

TEST_F(TwoDiscInstall, HappyPathThroughAllSixPages) {
    const VoicePack pack = SamplePack({kPacingFiles, kLargeFile, true});
    ASSERT_TRUE(drive_.LayOut(pack));
    HWND page = WalkToCopy(CdDrive::SetupPath(), installFolder_);
    ASSERT_TRUE(page);

    // A machine may copy a disc between two polls of the page; holding the worker for a moment of
    // each disc lets the page show that moment whatever the speed.
    CopyWatch watch;
    EXPECT_TRUE(Hold(page, watch, [&] { return watch.Saw(kDisc1Text) && watch.ShowsAFile(); }))
        << watch.Describe();
    HWND prompt = CopyUntilPrompt(page, watch);
    ASSERT_TRUE(prompt);
    EXPECT_TRUE(watch.Saw(kDisc1Text)) << watch.Describe();
    EXPECT_FALSE(watch.Saw(kDisc2Text)) << watch.Describe();
    EXPECT_TRUE(std::any_of(watch.fileTexts.begin(), watch.fileTexts.end(),
                            [&](const std::wstring& t) { return PackHasName(pack, t); }))
        << "label 1015 names the entries; " << watch.Describe();
    const size_t namesOfDisc1 = watch.fileTexts.size();

    ASSERT_TRUE(drive_.ChangeDisc());
    Answer(prompt, IDOK);
    // The second disc's own files start to arrive: hold the worker there until a poll shows it.
    const std::wstring disc2File = installFolder_ + L"\\Voice\\Lines4\\line0000.ogg";
    ASSERT_TRUE(ui::WaitFor([&] { return GetFileAttributesW(disc2File.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000));
    EXPECT_TRUE(Hold(page, watch, [&] { return watch.Saw(kDisc2Text); })) << watch.Describe();
    HWND finish = CopyUntilFinish(page, watch);
    ASSERT_TRUE(finish);
    EXPECT_TRUE(watch.Saw(kDisc2Text)) << watch.Describe();
    EXPECT_LT(IndexOf(watch.volumeTexts, kDisc1Text), IndexOf(watch.volumeTexts, kDisc2Text)) << watch.Describe();
    EXPECT_TRUE(std::is_sorted(watch.barPositions.begin(), watch.barPositions.end())) << watch.Describe();
    EXPECT_GE(watch.HighestBar(), 6) << "the first disc's 6 MiB count by the time the second shows; "
                                      << watch.Describe();
    EXPECT_GT(watch.fileTexts.size(), namesOfDisc1) << "the second disc's entries are named too";

    const Tree installed = Snapshot(installFolder_);
    EXPECT_EQ(TreeDifference(pack.Installed(), installed), "");
    // The volumes' own den.dat and launch.ini records never reach the disk.
    EXPECT_EQ(installed.count("Bin\\den.dat") ? installed.at("Bin\\den.dat") : "", pack.den);
    EXPECT_EQ(installed.count("Bin\\launch.ini") ? installed.at("Bin\\launch.ini") : "", pack.launch);

    ExpectPostInstallPage(CloseAndCollectOpened(finish), installFolder_, true);
}

TEST_F(TwoDiscInstall, AllSixVolumesOnTheFirstDiscNeedNoPrompt) {
    const VoicePack pack = SamplePack();
    ASSERT_TRUE(drive_.LayOut(pack, true));
    HWND finish = InstallFromReady(WalkToReady(CdDrive::SetupPath(), installFolder_));
    ASSERT_TRUE(finish);
    EXPECT_EQ(TreeDifference(pack.Installed(), Snapshot(installFolder_)), "");
    ExpectPostInstallPage(CloseAndCollectOpened(finish), installFolder_, false);
}

// OK before the disc is changed: the retry box; Retry after the change goes on with the second disc.
TEST_F(TwoDiscInstall, OkBeforeTheDiscChangeShowsTheRetryBox) {
    const VoicePack pack = SamplePack();
    HWND page = nullptr;
    HWND retry = OkWithTheFirstDiscIn(pack, &page);
    ASSERT_TRUE(retry);
    // Retry with the first disc still in: the same box again.
    Answer(retry, IDRETRY);
    retry = ExpectBox(page, kRetryDisc2Text);
    ASSERT_TRUE(retry);

    ASSERT_TRUE(drive_.ChangeDisc());
    Answer(retry, IDRETRY);
    CopyWatch watch;
    HWND finish = CopyUntilFinish(page, watch);
    ASSERT_TRUE(finish);
    EXPECT_EQ(TreeDifference(pack.Installed(), Snapshot(installFolder_)), "");
    ExpectPostInstallPage(CloseAndCollectOpened(finish), installFolder_, false);
}

// Giving the retry box up stops the run: the first disc's files and the side files go, the game's
// own files come back, and Cancel, still enabled, ends the page without a question.
TEST_F(TwoDiscInstall, RetryBoxGivenUpRollsBack) {
    ASSERT_TRUE(WriteTree(installFolder_, EarlierGameFiles()));
    const Tree before = Snapshot(installFolder_);
    HWND page = nullptr;
    HWND retry = OkWithTheFirstDiscIn(SamplePack(), &page);
    ASSERT_TRUE(retry);
    Answer(retry, IDCANCEL);

    // The worker notices within its one-second sleep; until the page sees it finish, Cancel leaves.
    if (IsWindow(page)) {
        EXPECT_TRUE(ui::IsItemEnabled(page, IDCANCEL) || !IsWindow(page));
        ui::Click(page, IDCANCEL);
    }
    bool asked = false;
    ASSERT_TRUE(ui::WaitFor([&] {
        asked = asked || (IsWindow(page) && ui::FindMessageBox(page) != nullptr);
        return wizard_->CurrentPage() == PageKind::Finish;
    })) << wizard_->Describe();
    EXPECT_FALSE(asked) << "no question after the prompt was given up";
    ExpectUndone(before);
}

// --- Cancel ---------------------------------------------------------------------------------------

class CopyCancel : public InstallTest {
protected:
    // All six volumes beside Setup.exe, with enough files that the run is still busy when the
    // question has been answered.
    VoicePack LayOutBusyPack() {
        const VoicePack pack = SamplePack({kPacingFiles * 2, kLargeFile, false});
        for (int i = 0; i < 6; ++i) {
            const std::wstring name = L"data" + std::to_wstring(i + 1) + L".cab";
            EXPECT_TRUE(medium_->WriteFile(name, pack.VolumeBytes(i)));
        }
        EXPECT_TRUE(medium_->WriteFile(L"den.dat", pack.den) && medium_->WriteFile(L"launch.ini", pack.launch));
        return pack;
    }

    // Presses Cancel while the worker is held mid-run and answers the question; the worker goes on
    // only once the answer is in, so the run can never end beneath the question.
    void AskToCancel(HWND page, int answer) {
        CopyWatch watch;
        const auto held = Hold(page, watch, [&] { return watch.ShowsAFile(); });
        ASSERT_TRUE(held) << watch.Describe();
        ASSERT_TRUE(ui::Click(page, IDCANCEL));
        HWND question = ExpectBox(page, kConfirmCancelText);
        ASSERT_TRUE(question);
        EXPECT_TRUE(HasButtons(question, {IDYES, IDNO}));
        Answer(question, answer);
    }
};

TEST_F(CopyCancel, AnsweredNoChangesNothing) {
    const VoicePack pack = LayOutBusyPack();
    HWND page = WalkToCopy(medium_->setupPath(), installFolder_);
    ASSERT_TRUE(page);
    AskToCancel(page, IDNO);

    HWND box = nullptr;
    CopyWatch watch;
    ASSERT_TRUE(Watch(page, watch, [&] {
        box = IsWindow(page) ? ui::FindMessageBox(page) : nullptr;
        return box != nullptr || wizard_->CurrentPage() == PageKind::Finish;
    })) << watch.Describe();
    ASSERT_EQ(box, nullptr) << ui::Narrow(ui::MessageBoxText(box));
    HWND finish = Expect(PageKind::Finish);
    ASSERT_TRUE(finish);
    EXPECT_EQ(TreeDifference(pack.Installed(), Snapshot(installFolder_)), "");
    ExpectPostInstallPage(CloseAndCollectOpened(finish), installFolder_, false);
}

TEST_F(CopyCancel, AnsweredYesRollsBackToTheFinishPage) {
    LayOutBusyPack();
    ASSERT_TRUE(WriteTree(installFolder_, EarlierGameFiles()));
    const Tree before = Snapshot(installFolder_);
    HWND page = WalkToCopy(medium_->setupPath(), installFolder_);
    ASSERT_TRUE(page);
    AskToCancel(page, IDYES);

    // The page stays, its Cancel disabled, until the worker has rolled back.
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(page) || !ui::IsItemEnabled(page, IDCANCEL); }));
    if (IsWindow(page)) {
        EXPECT_FALSE(ui::IsItemEnabled(page, IDCANCEL));
        EXPECT_EQ(wizard_->CurrentPage(), PageKind::Copy);
    }
    ExpectUndone(before);
}

// --- Failures -------------------------------------------------------------------------------------

class CopyFailure : public InstallTest {
protected:
    void LayOut(const VoicePack& pack) {
        for (int i = 0; i < 6; ++i) {
            EXPECT_TRUE(medium_->WriteFile(L"data" + std::to_wstring(i + 1) + L".cab", pack.VolumeBytes(i)));
        }
    }
};

// data2.cab missing: only the warning, with the page still hidden behind it; then the page shows with
// empty labels and the bar at 0, and Cancel leads on without a question.
TEST_F(CopyFailure, MissingVolumeAtTheStart) {
    LayOut(SamplePack());
    ASSERT_TRUE(medium_->RemoveFile(L"data2.cab"));
    ASSERT_TRUE(WriteTree(installFolder_, EarlierGameFiles()));
    const Tree before = Snapshot(installFolder_);
    HWND ready = WalkToReady(medium_->setupPath(), installFolder_);
    ASSERT_TRUE(ready);
    ASSERT_TRUE(ui::Click(ready, kNext));
    HWND page = wizard_->WaitForPageWindow(PageKind::Copy);
    ASSERT_TRUE(page) << wizard_->Describe();
    HWND box = ExpectBox(page, kFilesMissingText);
    ASSERT_TRUE(box);
    EXPECT_TRUE(HasButtons(box, {IDOK}));
    Answer(box, IDOK);

    ASSERT_EQ(wizard_->WaitForPage(PageKind::Copy), page);
    EXPECT_EQ(ui::ItemText(page, kVolumeText), L"");
    EXPECT_EQ(ui::ItemText(page, kCurrentFile), L"");
    EXPECT_EQ(ui::ItemProgressPosition(page, kProgressBar), 0);
    EXPECT_EQ(ui::FindMessageBox(page), nullptr) << "one box only";
    ASSERT_TRUE(ui::Click(page, IDCANCEL));
    bool asked = false;
    ASSERT_TRUE(ui::WaitFor([&] {
        asked = asked || (IsWindow(page) && ui::FindMessageBox(page) != nullptr);
        return wizard_->CurrentPage() == PageKind::Finish;
    }));
    EXPECT_FALSE(asked);
    ExpectUndone(before);
}

// A record with a name length of 0 in data2.cab: the error box names the volume by its full path, and
// the first volume's files are rolled back.
TEST_F(CopyFailure, MalformedVolumeNamesItsFullPath) {
    VoicePack pack = SamplePack();
    LayOut(pack);
    ASSERT_TRUE(medium_->WriteFile(L"data2.cab", pack.VolumeBytes(1) + std::string(8, '\0') + "trailing"));
    ASSERT_TRUE(WriteTree(installFolder_, EarlierGameFiles()));
    const Tree before = Snapshot(installFolder_);
    HWND page = WalkToCopy(medium_->setupPath(), installFolder_);
    ASSERT_TRUE(page);
    HWND box = ExpectBox(page, L"錯誤的資料包(" + medium_->folder() + L"\\data2.cab)請確認安裝包是否完整");
    ASSERT_TRUE(box);
    EXPECT_TRUE(HasButtons(box, {IDOK}));
    Answer(box, IDOK);
    ExpectUndone(before);
}

// Fills the drive up to a few MiB, by reserving the room for one file (Wine passes that on as
// fallocate) or by writing it where that is not done.
bool FillDrive(const std::wstring& root, const std::wstring& filler, ULONGLONG leaveBytes, std::string* why) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr) || available.QuadPart <= leaveBytes) {
        *why = "cannot read the free space";
        return false;
    }
    const ULONGLONG size = available.QuadPart - leaveBytes;
    HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = "cannot create the filler";
        return false;
    }
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation);
    ULARGE_INTEGER now{};
    GetDiskFreeSpaceExW(root.c_str(), &now, nullptr, nullptr);
    if (now.QuadPart > leaveBytes + (1u << 20)) {
        const std::string chunk(16u << 20, '\0');
        ULONGLONG written = 0;
        while (written < size) {
            const DWORD part = static_cast<DWORD>(std::min<ULONGLONG>(chunk.size(), size - written));
            DWORD done = 0;
            if (!WriteFile(file, chunk.data(), part, &done, nullptr) || done == 0) {
                break;
            }
            written += done;
        }
        GetDiskFreeSpaceExW(root.c_str(), &now, nullptr, nullptr);
    }
    CloseHandle(file);
    if (now.QuadPart > leaveBytes + (1u << 20)) {
        *why = "still " + std::to_string(now.QuadPart) + " bytes free";
        return false;
    }
    return true;
}

// The drive has room when the folder page asks, and fills up once the ready page shows: the write
// fails inside a large file, and the folder holds exactly what it held before, the game's files too.
TEST_F(CopyFailure, DiskFullMidwayRollsBack) {
    const std::wstring drive = Environment(L"UI_FILL_DRIVE");
    if (drive.empty()) {
        GTEST_SKIP() << "no fillable drive (UI_FILL_DRIVE); run_ui_tests.sh makes one when run as root";
    }
    const std::wstring root = drive + L"\\";
    const std::wstring filler = root + L"filler.bin";
    installFolder_ = root + L"Veyloran-" + std::to_wstring(GetCurrentProcessId());
    const VoicePack pack = SamplePack({0, 8u << 20, false});
    LayOut(pack);
    ASSERT_TRUE(WriteTree(installFolder_, EarlierGameFiles()));
    const Tree before = Snapshot(installFolder_);

    HWND ready = WalkToReady(medium_->setupPath(), installFolder_);
    ASSERT_TRUE(ready);
    std::string why;
    ASSERT_TRUE(FillDrive(root, filler, 3u << 20, &why)) << why;
    HWND page = Go(ready, kNext, PageKind::Copy);
    ASSERT_TRUE(page);
    HWND box = ExpectBox(page, kWriteFailedText);
    if (box != nullptr) {
        Answer(box, IDOK);
    }
    const bool ended = Expect(PageKind::Finish) != nullptr;
    DeleteFileW(filler.c_str());
    ASSERT_TRUE(ended);
    ExpectUndone(before);
}

// --- Discs made by the maker's tool ---------------------------------------------------------------

// The second half of the disc maker's round trip: run_all.sh packs a tree with discmaker
// (tests/discmaker/roundtrip.sh) and names the folder in UI_ROUNDTRIP_DIR; installed from those two
// discs, the install folder must equal the tree, file for file and byte for byte.
TEST_F(TwoDiscInstall, DiscMakerDiscsInstallTheTreeFileForFile) {
    const std::wstring out = Environment(L"UI_ROUNDTRIP_DIR");
    if (out.empty()) {
        GTEST_SKIP() << "UI_ROUNDTRIP_DIR is not set; run_all.sh packs the discs";
    }
    const std::wstring folder = ui::ToWindowsPath(ui::Narrow(out));
    Tree expected = Snapshot(folder + L"\\tree");
    ASSERT_GE(expected.size(), 8u);
    const Tree side = Snapshot(folder + L"\\side");
    expected["Bin\\den.dat"] = side.at("den.dat");
    expected["Bin\\launch.ini"] = side.at("launch.ini");
    ASSERT_TRUE(drive_.LayOutFrom(folder + L"\\discs\\disc1", folder + L"\\discs\\disc2"));

    HWND page = WalkToCopy(CdDrive::SetupPath(), installFolder_);
    ASSERT_TRUE(page);
    CopyWatch watch;
    HWND prompt = CopyUntilPrompt(page, watch);
    ASSERT_TRUE(prompt);
    ASSERT_TRUE(drive_.ChangeDisc());
    Answer(prompt, IDOK);
    HWND finish = CopyUntilFinish(page, watch);
    ASSERT_TRUE(finish);
    EXPECT_EQ(TreeDifference(expected, Snapshot(installFolder_)), "");
    CloseAndCollectOpened(finish);
}

// --- After the run --------------------------------------------------------------------------------

// What opens after a successful run, for the network state Wine reports. run_ui_tests.sh runs this
// group a second time without a network (UI_NETWORK=offline), where Wine must say so.
class PostInstall : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        if (Environment(L"UI_NETWORK") == L"offline") {
            ASSERT_FALSE(WineSaysOnline()) << "Wine reports a connection inside a namespace without network";
        }
    }

    void InstallAndExpect(bool localPage) {
        const VoicePack pack = SamplePack({0, 0, localPage});
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(medium_->WriteFile(L"data" + std::to_wstring(i + 1) + L".cab", pack.VolumeBytes(i)));
        }
        ASSERT_TRUE(medium_->WriteFile(L"den.dat", pack.den) && medium_->WriteFile(L"launch.ini", pack.launch));
        HWND finish = InstallFromReady(WalkToReady(medium_->setupPath(), installFolder_));
        ASSERT_TRUE(finish);
        EXPECT_EQ(TreeDifference(pack.Installed(), Snapshot(installFolder_)), "");
        ExpectPostInstallPage(CloseAndCollectOpened(finish), installFolder_, localPage);
    }
};

TEST_F(PostInstall, MakerPageWhenOnlineEvenWithALocalPage) {
    if (!WineSaysOnline()) {
        GTEST_SKIP() << "Wine reports no connection";
    }
    InstallAndExpect(true);
}

TEST_F(PostInstall, LocalPageWhenOffline) {
    if (WineSaysOnline()) {
        GTEST_SKIP() << "Wine reports a connection; run_ui_tests.sh runs this again without one";
    }
    InstallAndExpect(true);
}

TEST_F(PostInstall, NothingWhenOfflineWithoutALocalPage) {
    if (WineSaysOnline()) {
        GTEST_SKIP() << "Wine reports a connection; run_ui_tests.sh runs this again without one";
    }
    InstallAndExpect(false);
}

}  // namespace
