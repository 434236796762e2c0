// Whole setup runs: voice packs in memory, the disc drive, the install folder on disk before and after,
// the stand-in browser, and the walk to the copy page.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "WizardFixture.h"

inline constexpr int kVolumeText = 1016;
inline constexpr int kCurrentFile = 1015;
inline constexpr int kProgressBar = 1017;

// The texts of the copy page, as the user sees them.
inline const std::wstring kDisc1Text = L"正在複製第1卷，共2卷";
inline const std::wstring kDisc2Text = L"正在複製第2卷，共2卷";
inline const std::wstring kInsertDisc2Text = L"請放入第二張光碟後按確定";
inline const std::wstring kRetryDisc2Text = L"請確認是否放入了正確的光碟，請放入第二張光碟後按確定！\n或者放棄安裝。";
inline const std::wstring kConfirmCancelText = L"是否終止安裝程式？";
inline const std::wstring kFilesMissingText = L"安裝檔案遺失";
inline const std::wstring kWriteFailedText = L"無法寫入檔案，請確認目前帳號對安裝目錄是否有寫入權限！";
inline const std::wstring kBoxCaption = L"Veyloran - 安裝嚮導";
inline const std::string kMakerPagePath = "/link/00000169";

// Files below a folder: the path relative to it ('\' between names, UTF-8) and the bytes.
using Tree = std::map<std::string, std::string>;

Tree Snapshot(const std::wstring& folder);
// Empty when the two agree; otherwise the first differences, one a line, sizes instead of contents.
std::string TreeDifference(const Tree& expected, const Tree& actual);
bool WriteTree(const std::wstring& folder, const Tree& files);
bool WriteBinaryFile(const std::wstring& path, const std::string& bytes);  // makes the folders on its way
void RemoveTree(const std::wstring& folder);
// A fresh name below the temporary folder, not yet created.
std::wstring ScratchPath(const std::wstring& stem);
std::wstring Environment(const wchar_t* name);
std::string Pattern(std::size_t size, unsigned seed);  // bytes that differ from file to file

struct PackFile {
    std::string name;  // as stored: UTF-8, '\' or '/' between names
    std::string data;
};

struct VoicePack {
    std::array<std::vector<PackFile>, 6> volumes;
    std::string den = "den.dat from the disc\r\n";
    std::string launch = "[launch]\r\nlanguage=zh-TW\r\n";

    std::string VolumeBytes(int index) const;  // index 0 is data1.cab
    // What a successful run leaves below the install folder: every entry but the two reserved names,
    // a later entry replacing an earlier one of the same name, and the two side files in Bin.
    Tree Installed() const;
};

struct PackShape {
    int filesPerVolume = 0;         // small files added to every volume, to make a disc take a while
    std::size_t largeFileBytes = 0;  // one file of this size in data2.cab and in data5.cab
    bool localPage = false;         // Bin\install.html in data6.cab
};

// Nested folders, an empty file, Chinese names, entries named like the side files (whose data must
// never reach the disk), and an entry of data1.cab that data4.cab replaces.
VoicePack SamplePack(const PackShape& shape = {});

// Files of the game that lie in its folder before the voice pack comes: some of them have names that
// the run replaces.
Tree EarlierGameFiles();

// The disc drive D: that run_ui_tests.sh maps onto UI_CDROM_DIR. Disc 1 lies in that folder, disc 2
// beside it until ChangeDisc swaps the two, as taking one disc out and putting the other in would.
class CdDrive {
public:
    CdDrive();
    ~CdDrive();
    CdDrive(const CdDrive&) = delete;
    CdDrive& operator=(const CdDrive&) = delete;

    bool ok() const { return ok_; }
    static std::wstring SetupPath() { return L"D:\\Setup.exe"; }
    std::wstring DriveFolder() const { return current_; }  // the Z: path of what D: shows

    // Setup.exe, eula.txt, the side files and data1-3 on disc 1, data4-6 on disc 2; with allOnFirst
    // all six volumes on disc 1.
    bool LayOut(const VoicePack& pack, bool allOnFirst = false);
    // Both discs as copies of two folders (disc1/ and disc2/ as discmaker makes them).
    bool LayOutFrom(const std::wstring& disc1, const std::wstring& disc2);
    bool WriteOnDisc(int disc, const std::wstring& name, const std::string& bytes);
    bool ChangeDisc();

private:
    std::wstring DiscFolder(int disc) const;
    std::wstring current_, disc1Out_, disc2_;
    bool changed_ = false;
    bool ok_ = false;
};

// What Wine tells a program about the connection, the same answer that Setup.exe gets.
bool WineSaysOnline();

// The labels and the bar of the copy page, as they changed while the test watched.
struct CopyWatch {
    std::vector<std::wstring> volumeTexts;  // label 1016, each change once
    std::vector<std::wstring> fileTexts;    // label 1015, each change once
    std::vector<int> barPositions;          // the bar, each change once
    void Sample(HWND page);
    bool Saw(const std::wstring& volumeText) const;
    bool ShowsAFile() const { return !fileTexts.empty() && !fileTexts.back().empty(); }
    int HighestBar() const;
    std::string Describe() const;
};

class InstallTest : public WizardTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts Setup.exe from this path and walks to the copy page with the install folder typed in.
    HWND WalkToCopy(const std::wstring& setupPath, const std::wstring& installFolder);
    // Up to the ready page only, for a test that acts before Next.
    HWND WalkToReady(const std::wstring& setupPath, const std::wstring& installFolder);
    // Presses Next on the ready page and waits for the finish page, failing on any message box on the
    // way. For runs that need no answer: a small pack is copied so fast that the copy page may be gone
    // before a look could find it.
    HWND InstallFromReady(HWND ready);
    // Waits for the box, checks its text and caption, and answers it.
    HWND ExpectBox(HWND owner, const std::wstring& text);
    void Answer(HWND box, int button);
    // Holds the install worker (ui::PausedWorker) until the page shows what the condition wants, and
    // keeps holding it for as long as the result lives. A worker held inside the job's lock would
    // hold up the page's poll as well, so a hold that shows nothing within a few polls is let go and
    // made again. Null when no hold showed it.
    std::unique_ptr<ui::PausedWorker> Hold(HWND page, CopyWatch& watch, const std::function<bool()>& shows);
    // Samples the page into the watch until the condition holds.
    bool Watch(HWND page, CopyWatch& watch, const std::function<bool()>& until, DWORD timeoutMs = 120000);
    // The end of a run that did not succeed: the finish page, the install folder exactly as before
    // the run, and nothing opened once the wizard is closed.
    void ExpectUndone(const Tree& before);
    // Closes the finish page, checks exit code 0, and returns the lines the stand-in browser wrote.
    std::vector<std::string> CloseAndCollectOpened(HWND finish);

    std::wstring installFolder_ = ScratchPath(L"ui-install");
    std::wstring browserLog_ = ScratchPath(L"ui-browser") + L".log";
};
