// Reads the resources of a built Setup.exe and compares them with the tables they were made from.
// The expected values are typed out here, not taken from ResourceIds.h or the .rc, so a slip in
// either fails a test. The executable: the first argument, else env SETUP_EXE, else the build's.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 2052
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);            // 1033

std::wstring g_exePath;
HMODULE g_module = nullptr;

std::wstring Widen(const char* text) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(units > 0 ? units : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], units);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// Wine maps the Unix root to drive Z:; a path such as /work/build/Setup.exe would otherwise be
// read as a path on the current drive.
std::wstring ToWindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {
        path = L"Z:" + path;
    }
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

std::wstring ChooseExePath(int argc, char** argv) {
    if (argc > 1) {
        return ToWindowsPath(Widen(argv[1]));
    }
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(L"SETUP_EXE", buffer, 4096);
    if (length > 0 && length < 4096) {
        return ToWindowsPath(buffer);
    }
#ifdef SETUP_EXE_PATH
    return ToWindowsPath(Widen(SETUP_EXE_PATH));
#else
    return std::wstring();
#endif
}

// --- Raw access -----------------------------------------------------------------------------------

struct Blob {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

Blob LoadBlob(LPCWSTR type, WORD id, WORD language) {
    Blob blob;
    HRSRC found = FindResourceExW(g_module, type, MAKEINTRESOURCEW(id), language);
    if (found == nullptr) {
        return blob;
    }
    HGLOBAL loaded = LoadResource(g_module, found);
    if (loaded == nullptr) {
        return blob;
    }
    blob.data = static_cast<const uint8_t*>(LockResource(loaded));
    blob.size = blob.data != nullptr ? SizeofResource(g_module, found) : 0;
    return blob;
}

// A bounds-checked little-endian reader: a malformed resource ends the parse with ok() false
// instead of a read past its end.
class Reader {
public:
    explicit Reader(Blob blob) : blob_(blob) {}

    bool ok() const { return ok_; }
    size_t offset() const { return offset_; }
    size_t remaining() const { return ok_ ? blob_.size - offset_ : 0; }

    uint8_t Byte() { return static_cast<uint8_t>(Take(1)); }
    uint16_t Word() { return static_cast<uint16_t>(Take(2)); }
    uint32_t Dword() { return static_cast<uint32_t>(Take(4)); }
    int16_t Short() { return static_cast<int16_t>(Word()); }

    std::wstring String() {
        std::wstring text;
        for (uint16_t c = Word(); ok_ && c != 0; c = Word()) {
            text.push_back(static_cast<wchar_t>(c));
        }
        return text;
    }

    void AlignTo(size_t alignment) {
        while (ok_ && offset_ % alignment != 0) {
            Take(1);
        }
    }

    void Skip(size_t count) {
        if (count > remaining()) {
            ok_ = false;
        } else {
            offset_ += count;
        }
    }

    const uint8_t* Here() const { return blob_.data + offset_; }

private:
    uint64_t Take(size_t count) {
        if (!ok_ || count > blob_.size - offset_) {
            ok_ = false;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) {
            value |= static_cast<uint64_t>(blob_.data[offset_ + i]) << (8 * i);
        }
        offset_ += count;
        return value;
    }

    Blob blob_;
    size_t offset_ = 0;
    bool ok_ = true;
};

// A name or an ordinal, as dialog templates store menus, classes and texts.
struct SzOrOrd {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::wstring text;

    bool operator==(const SzOrOrd& other) const {
        return isOrdinal == other.isOrdinal && ordinal == other.ordinal && text == other.text;
    }
};

std::ostream& operator<<(std::ostream& out, const SzOrOrd& value) {
    if (value.isOrdinal) {
        return out << "ordinal " << value.ordinal;
    }
    out << "\"";
    for (wchar_t c : value.text) {
        if (c >= 0x20 && c < 0x7F) {
            out << static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out << escaped;
        }
    }
    return out << "\"";
}

SzOrOrd ReadSzOrOrd(Reader& in) {
    SzOrOrd value;
    const uint16_t first = in.Word();
    if (first == 0xFFFF) {
        value.isOrdinal = true;
        value.ordinal = in.Word();
    } else if (first != 0) {
        value.text.push_back(static_cast<wchar_t>(first));
        value.text += in.String();
    }
    return value;
}

SzOrOrd Ordinal(uint16_t ordinal) {
    SzOrOrd value;
    value.isOrdinal = true;
    value.ordinal = ordinal;
    return value;
}

SzOrOrd Text(const wchar_t* text) {
    SzOrOrd value;
    value.text = text;
    return value;
}

// --- The resource table ---------------------------------------------------------------------------

using ResourceKey = std::tuple<std::wstring, std::wstring, WORD>;  // type, name, language

std::wstring NameOf(LPCWSTR name) {
    return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name)) : std::wstring(name);
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
    reinterpret_cast<std::set<ResourceKey>*>(param)->insert({NameOf(type), NameOf(name), language});
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    EnumResourceLanguagesW(module, type, name, AddLanguage, param);
    return TRUE;
}

BOOL CALLBACK AddType(HMODULE module, LPWSTR type, LONG_PTR param) {
    EnumResourceNamesW(module, type, AddName, param);
    return TRUE;
}

ResourceKey Key(LPCWSTR type, WORD id, WORD language) {
    return {NameOf(type), L"#" + std::to_wstring(id), language};
}

struct GroupIconEntry {
    uint8_t width, height, colourCount;
    uint16_t planes, bitCount;
    uint32_t bytesInRes;
    uint16_t id;
};

std::vector<GroupIconEntry> ReadIconGroup() {
    std::vector<GroupIconEntry> entries;
    Reader in(LoadBlob(RT_GROUP_ICON, 128, kChinesePrc));
    const uint16_t reserved = in.Word(), type = in.Word(), count = in.Word();
    if (!in.ok() || reserved != 0 || type != 1) {
        return entries;
    }
    for (uint16_t i = 0; i < count && in.ok(); ++i) {
        GroupIconEntry e;
        e.width = in.Byte();
        e.height = in.Byte();
        e.colourCount = in.Byte();
        in.Byte();
        e.planes = in.Word();
        e.bitCount = in.Word();
        e.bytesInRes = in.Dword();
        e.id = in.Word();
        if (in.ok()) {
            entries.push_back(e);
        }
    }
    return entries;
}

TEST(ResourceTable, HoldsExactlyTheListedResources) {
    std::set<ResourceKey> found;
    ASSERT_TRUE(EnumResourceTypesW(g_module, AddType, reinterpret_cast<LONG_PTR>(&found)));

    std::set<ResourceKey> expected;
    for (WORD id = 129; id <= 134; ++id) {
        expected.insert(Key(RT_DIALOG, id, kChinesePrc));
    }
    for (WORD id = 131; id <= 134; ++id) {
        expected.insert(Key(RT_BITMAP, id, kChinesePrc));
    }
    expected.insert(Key(RT_GROUP_ICON, 128, kChinesePrc));
    expected.insert(Key(RT_MANIFEST, 1, kEnglishUs));
    expected.insert(Key(RT_VERSION, 1, kChinesePrc));
    // The icon's images are resources of their own, under whatever ids the group names.
    for (const GroupIconEntry& e : ReadIconGroup()) {
        expected.insert(Key(RT_ICON, e.id, kChinesePrc));
    }

    for (const ResourceKey& key : found) {
        EXPECT_TRUE(expected.count(key)) << "unexpected resource: type " << testing::PrintToString(std::get<0>(key))
                                         << " name " << testing::PrintToString(std::get<1>(key)) << " language "
                                         << std::get<2>(key);
    }
    for (const ResourceKey& key : expected) {
        EXPECT_TRUE(found.count(key)) << "missing resource: type " << testing::PrintToString(std::get<0>(key))
                                      << " name " << testing::PrintToString(std::get<1>(key)) << " language "
                                      << std::get<2>(key);
    }
}

// --- Dialog templates -----------------------------------------------------------------------------

enum class Kind { Push, DefaultPush, Check, Picture, Label, EllipsisLabel, TextBox, ReadingPane, Progress };

struct KindSpec {
    SzOrOrd windowClass;
    DWORD style;
};

KindSpec SpecOf(Kind kind) {
    const DWORD base = WS_CHILD | WS_VISIBLE;
    switch (kind) {
        case Kind::Push:
            return {Ordinal(0x80), base | BS_PUSHBUTTON | WS_TABSTOP};
        case Kind::DefaultPush:
            return {Ordinal(0x80), base | BS_DEFPUSHBUTTON | WS_TABSTOP};
        case Kind::Check:
            return {Ordinal(0x80), base | BS_AUTOCHECKBOX | WS_TABSTOP};
        case Kind::Picture:
            return {Ordinal(0x82), base | SS_BITMAP};
        case Kind::Label:
            return {Ordinal(0x82), base | SS_LEFT | WS_GROUP};
        case Kind::EllipsisLabel:
            return {Ordinal(0x82), base | SS_LEFT | SS_WORDELLIPSIS | WS_GROUP};
        case Kind::TextBox:
            return {Ordinal(0x81), base | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
        case Kind::ReadingPane:
            return {Ordinal(0x81), base | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN | WS_VSCROLL |
                                       WS_BORDER | WS_TABSTOP};
        case Kind::Progress:
            return {Text(L"msctls_progress32"), base};
    }
    return {};
}

struct Rect {
    int16_t x, y, cx, cy;
};

struct ControlSpec {
    int32_t id;
    Kind kind;
    Rect rect;
    const wchar_t* text;  // nullptr for a picture, whose text is its bitmap's id
    uint16_t bitmap;
};

struct DialogSpec {
    const char* name;
    uint16_t id;
    std::vector<ControlSpec> controls;
};

const wchar_t kNext[] = L"下一步";
const wchar_t kCancel[] = L"取消";
const wchar_t kBack[] = L"上一步";
const wchar_t kReminder[] =
    L"提醒：\n"
    L"    《Veyloran語音包》需要您將遊戲升級至“V1.3.7或更高版本”，否則將可能出現無法播放語音、無法控制語音音量等異常情況。\n"
    L"    語音功能僅要求您將版本升級，DLC是否啟動不影響語音功能使用！";

const std::vector<DialogSpec>& Dialogs() {
    static const std::vector<DialogSpec> dialogs = {
        {"Welcome", 129,
         {
             {1019, Kind::DefaultPush, {235, 204, 57, 17}, kNext, 0},
             {2, Kind::Push, {299, 204, 57, 17}, kCancel, 0},
             {-1, Kind::Picture, {0, 0, 109, 193}, nullptr, 133},
             {-1, Kind::Picture, {3, 198, 376, 1}, nullptr, 134},
             {-1, Kind::Label, {131, 15, 239, 16}, L"歡迎使用Veyloran安裝嚮導，繼續請按“下一步”。", 0},
             {-1, Kind::Label, {130, 48, 245, 39}, kReminder, 0},
         }},
        {"License", 130,
         {
             {1019, Kind::DefaultPush, {235, 204, 57, 17}, kNext, 0},
             {2, Kind::Push, {299, 204, 57, 17}, kCancel, 0},
             {-1, Kind::Picture, {0, 0, 109, 193}, nullptr, 132},
             {-1, Kind::Picture, {3, 198, 376, 1}, nullptr, 134},
             {1018, Kind::DefaultPush, {171, 204, 57, 17}, kBack, 0},
             {1007, Kind::ReadingPane, {117, 9, 259, 163}, L"", 0},
             {1008, Kind::Check, {195, 179, 101, 10}, L"我同意上述協議(&A)", 0},
         }},
        {"Folder", 131,
         {
             {1013, Kind::DefaultPush, {311, 176, 57, 17}, L"瀏覽(&B)...", 0},
             {2, Kind::Push, {299, 204, 57, 17}, kCancel, 0},
             {-1, Kind::Picture, {0, 0, 387, 41}, nullptr, 131},
             {-1, Kind::Picture, {3, 198, 376, 1}, nullptr, 134},
             {1018, Kind::DefaultPush, {171, 204, 57, 17}, kBack, 0},
             {-1, Kind::Label, {11, 52, 291, 11},
              L"請按“瀏覽”，選擇遊戲所在路徑(如，X:\\Tarnwick\\Veyloran)，然後按“下一步”。", 0},
             {-1, Kind::Label, {11, 71, 57, 8}, L"硬碟大小總計：", 0},
             {-1, Kind::Label, {11, 83, 57, 8}, L"剩餘硬碟空間：", 0},
             {-1, Kind::Label, {11, 95, 59, 8}, L"安裝所需容量：", 0},
             {1009, Kind::Label, {75, 71, 74, 8}, L"0MB", 0},
             {1010, Kind::Label, {75, 83, 74, 8}, L"0MB", 0},
             {1011, Kind::Label, {75, 95, 74, 8}, L"0MB", 0},
             {-1, Kind::Label, {11, 166, 49, 8}, L"安裝路徑", 0},
             {1012, Kind::TextBox, {11, 178, 293, 14}, L"", 0},
             {1019, Kind::DefaultPush, {235, 204, 57, 17}, kNext, 0},
         }},
        {"Ready", 132,
         {
             {2, Kind::Push, {299, 204, 57, 17}, kCancel, 0},
             {-1, Kind::Picture, {0, 0, 387, 41}, nullptr, 131},
             {-1, Kind::Picture, {3, 198, 376, 1}, nullptr, 134},
             {1018, Kind::DefaultPush, {171, 204, 57, 17}, kBack, 0},
             {-1, Kind::Label, {11, 52, 121, 8}, L"Veyloran安裝嚮導已經準備就緒。", 0},
             {1019, Kind::DefaultPush, {235, 204, 57, 17}, kNext, 0},
             {-1, Kind::Label, {11, 98, 102, 8}, L"開始複製檔案請按“下一步”。", 0},
             {-1, Kind::Label, {11, 71, 81, 8}, L"語音資源將被安裝到：", 0},
             {1014, Kind::EllipsisLabel, {11, 82, 368, 8}, L"E:", 0},
         }},
        {"Copy", 133,
         {
             {2, Kind::Push, {299, 204, 57, 17}, kCancel, 0},
             {-1, Kind::Picture, {0, 0, 387, 41}, nullptr, 131},
             {-1, Kind::Picture, {8, 198, 376, 1}, nullptr, 134},
             {1016, Kind::Label, {14, 52, 356, 8}, L"", 0},
             {1015, Kind::EllipsisLabel, {12, 155, 358, 8}, L"", 0},
             {1017, Kind::Progress, {13, 172, 358, 14}, L"", 0},
         }},
        {"Finish", 134,
         {
             {2, Kind::Push, {299, 204, 57, 17}, L"關閉(&C)", 0},
             {-1, Kind::Picture, {0, 0, 109, 193}, nullptr, 133},
             {-1, Kind::Picture, {3, 198, 376, 1}, nullptr, 134},
             {-1, Kind::Label, {137, 15, 239, 45}, L"安裝結束", 0},
         }},
    };
    return dialogs;
}

struct ParsedControl {
    uint32_t helpId, exStyle, style;
    Rect rect;
    uint32_t id;
    SzOrOrd windowClass, text;
    uint16_t extraCount;
};

struct ParsedDialog {
    uint16_t version, signature;
    uint32_t helpId, exStyle, style;
    Rect rect;
    SzOrOrd menu, windowClass;
    std::wstring caption;
    uint16_t pointSize, weight;
    uint8_t italic, charset;
    std::wstring typeface;
    std::vector<ParsedControl> controls;
};

Rect ReadRect(Reader& in) {
    Rect r;
    r.x = in.Short();
    r.y = in.Short();
    r.cx = in.Short();
    r.cy = in.Short();
    return r;
}

// DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records; each record starts on a DWORD boundary.
bool ParseDialog(Blob blob, ParsedDialog& d) {
    Reader in(blob);
    d.version = in.Word();
    d.signature = in.Word();
    if (!in.ok() || d.version != 1 || d.signature != 0xFFFF) {
        return false;
    }
    d.helpId = in.Dword();
    d.exStyle = in.Dword();
    d.style = in.Dword();
    const uint16_t count = in.Word();
    d.rect = ReadRect(in);
    d.menu = ReadSzOrOrd(in);
    d.windowClass = ReadSzOrOrd(in);
    d.caption = in.String();
    if (d.style & (DS_SETFONT | DS_SHELLFONT)) {
        d.pointSize = in.Word();
        d.weight = in.Word();
        d.italic = in.Byte();
        d.charset = in.Byte();
        d.typeface = in.String();
    }
    for (uint16_t i = 0; i < count && in.ok(); ++i) {
        in.AlignTo(4);
        ParsedControl c;
        c.helpId = in.Dword();
        c.exStyle = in.Dword();
        c.style = in.Dword();
        c.rect = ReadRect(in);
        c.id = in.Dword();
        c.windowClass = ReadSzOrOrd(in);
        c.text = ReadSzOrOrd(in);
        c.extraCount = in.Word();
        in.Skip(c.extraCount);
        if (in.ok()) {
            d.controls.push_back(c);
        }
    }
    return in.ok();
}

// Failure messages name the page instead of dumping the record's bytes.
void PrintTo(const DialogSpec& dialog, std::ostream* out) {
    *out << dialog.name << " (" << dialog.id << ")";
}

class DialogTemplate : public testing::TestWithParam<DialogSpec> {};

TEST_P(DialogTemplate, FrameMatches) {
    ParsedDialog d{};
    ASSERT_TRUE(ParseDialog(LoadBlob(RT_DIALOG, GetParam().id, kChinesePrc), d)) << "not a readable DIALOGEX";
    EXPECT_EQ(d.helpId, 0u);
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(d.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER |
                                          DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(d.rect.x, 0);
    EXPECT_EQ(d.rect.y, 0);
    EXPECT_EQ(d.rect.cx, 384);
    EXPECT_EQ(d.rect.cy, 234);
    EXPECT_EQ(d.menu, SzOrOrd()) << "no menu";
    EXPECT_EQ(d.windowClass, SzOrOrd()) << "no window class";
    EXPECT_EQ(d.caption, L"Veyloran安裝嚮導");
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.weight, 400);
    EXPECT_EQ(d.italic, 0);
    EXPECT_EQ(d.charset, DEFAULT_CHARSET);
    EXPECT_EQ(d.typeface, L"MS Shell Dlg");
}

bool SameClass(const SzOrOrd& found, const SzOrOrd& expected) {
    if (found.isOrdinal || expected.isOrdinal) {
        return found == expected;
    }
    // windres stores named classes in upper case; the window manager looks classes up without
    // regard to case, so MSCTLS_PROGRESS32 is the progress bar class.
    return CompareStringOrdinal(found.text.c_str(), -1, expected.text.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST_P(DialogTemplate, ControlsMatchInOrder) {
    ParsedDialog d{};
    ASSERT_TRUE(ParseDialog(LoadBlob(RT_DIALOG, GetParam().id, kChinesePrc), d)) << "not a readable DIALOGEX";
    const std::vector<ControlSpec>& expected = GetParam().controls;
    ASSERT_EQ(d.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        const ControlSpec& want = expected[i];
        const ParsedControl& got = d.controls[i];
        const KindSpec kind = SpecOf(want.kind);
        EXPECT_EQ(got.id, static_cast<uint32_t>(want.id));
        EXPECT_TRUE(SameClass(got.windowClass, kind.windowClass))
            << "class " << got.windowClass << ", expected " << kind.windowClass;
        EXPECT_EQ(got.style, kind.style) << std::hex << "style 0x" << got.style << ", expected 0x" << kind.style;
        EXPECT_EQ(got.rect.x, want.rect.x);
        EXPECT_EQ(got.rect.y, want.rect.y);
        EXPECT_EQ(got.rect.cx, want.rect.cx);
        EXPECT_EQ(got.rect.cy, want.rect.cy);
        EXPECT_EQ(got.text, want.text != nullptr ? Text(want.text) : Ordinal(want.bitmap));
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.extraCount, 0u) << "no creation data";
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, DialogTemplate, testing::ValuesIn(Dialogs()),
                         [](const testing::TestParamInfo<DialogSpec>& p) { return std::string(p.param.name); });

// --- Bitmaps ----------------------------------------------------------------------------------------

struct ExpectedBitmap {
    uint16_t id;
    int32_t width, height;
    uint16_t bits;
};

const ExpectedBitmap kBitmaps[] = {
    {131, 580, 66, 24},
    {132, 164, 314, 24},
    {133, 164, 314, 24},
    {134, 564, 2, 4},
};

bool ReadInfoHeader(Blob blob, BITMAPINFOHEADER& header) {
    if (blob.data == nullptr || blob.size < sizeof header) {
        return false;
    }
    memcpy(&header, blob.data, sizeof header);
    return true;
}

size_t PaletteEntries(const BITMAPINFOHEADER& h) {
    if (h.biBitCount > 8) {
        return h.biClrUsed;
    }
    return h.biClrUsed != 0 ? h.biClrUsed : size_t{1} << h.biBitCount;
}

size_t Stride(const BITMAPINFOHEADER& h) {
    return ((static_cast<size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
}

TEST(Bitmaps, SizesDepthsAndFormat) {
    for (const ExpectedBitmap& bitmap : kBitmaps) {
        SCOPED_TRACE("bitmap " + std::to_string(bitmap.id));
        const Blob blob = LoadBlob(RT_BITMAP, bitmap.id, kChinesePrc);
        BITMAPINFOHEADER h;
        ASSERT_TRUE(ReadInfoHeader(blob, h));
        EXPECT_EQ(h.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(h.biWidth, bitmap.width);
        EXPECT_EQ(h.biHeight < 0 ? -h.biHeight : h.biHeight, bitmap.height);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, bitmap.bits);
        EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB)) << "uncompressed";
        const size_t needed = h.biSize + 4 * PaletteEntries(h) + Stride(h) * bitmap.height;
        EXPECT_GE(blob.size, needed) << "pixel data cut short";
    }
}

// A picture control shows its bitmap at the bitmap's own size, so the template's rectangle must
// cover the same pixels: 1.5 pixels per horizontal and 1.625 per vertical dialog unit.
TEST(Bitmaps, PictureRectanglesFitTheirBitmaps) {
    for (const DialogSpec& dialog : Dialogs()) {
        for (const ControlSpec& c : dialog.controls) {
            if (c.kind != Kind::Picture) {
                continue;
            }
            BITMAPINFOHEADER h;
            ASSERT_TRUE(ReadInfoHeader(LoadBlob(RT_BITMAP, c.bitmap, kChinesePrc), h));
            const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
            EXPECT_LE(std::abs(c.rect.cx * 1.5 - h.biWidth), 1.0) << dialog.name << ", bitmap " << c.bitmap;
            EXPECT_LE(std::abs(c.rect.cy * 1.625 - height), 1.0) << dialog.name << ", bitmap " << c.bitmap;
        }
    }
}

TEST(Bitmaps, SeparatorIsAnEtchedLine) {
    const Blob blob = LoadBlob(RT_BITMAP, 134, kChinesePrc);
    BITMAPINFOHEADER h;
    ASSERT_TRUE(ReadInfoHeader(blob, h));
    ASSERT_EQ(h.biBitCount, 4);
    ASSERT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    ASSERT_EQ(PaletteEntries(h), 16u);
    const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    ASSERT_EQ(height, 2);
    ASSERT_GE(blob.size, h.biSize + 4 * 16 + Stride(h) * 2);

    static const uint8_t kStandard16[16][3] = {
        {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},   {0, 0, 128},   {128, 0, 128},
        {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
        {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    const uint8_t* palette = blob.data + h.biSize;  // RGBQUAD: blue, green, red, reserved
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(palette[4 * i + 2], kStandard16[i][0]) << "palette entry " << i;
        EXPECT_EQ(palette[4 * i + 1], kStandard16[i][1]) << "palette entry " << i;
        EXPECT_EQ(palette[4 * i + 0], kStandard16[i][2]) << "palette entry " << i;
    }

    const uint8_t* pixels = palette + 4 * 16;
    const uint8_t kRowColour[2] = {192, 255};  // top row light grey, bottom row white
    for (int row = 0; row < 2; ++row) {
        // Rows are stored bottom-up unless the height is negative.
        const int stored = h.biHeight > 0 ? 1 - row : row;
        const uint8_t* line = pixels + Stride(h) * stored;
        int wrong = 0;
        for (int x = 0; x < h.biWidth; ++x) {
            const uint8_t index = (x % 2 == 0) ? line[x / 2] >> 4 : line[x / 2] & 0x0F;
            const uint8_t* rgb = kStandard16[index];
            if (rgb[0] != kRowColour[row] || rgb[1] != kRowColour[row] || rgb[2] != kRowColour[row]) {
                ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << "pixels of the wrong colour in row " << row;
    }
}

// --- Icon -------------------------------------------------------------------------------------------

TEST(Icon, GroupHoldsTheTwoImages) {
    const std::vector<GroupIconEntry> entries = ReadIconGroup();
    ASSERT_EQ(entries.size(), 2u);
    struct Want {
        int size;
        uint16_t bits;
    } const want[] = {{32, 24}, {64, 8}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("image " + std::to_string(i + 1));
        const GroupIconEntry& e = entries[i];
        EXPECT_EQ(e.width, want[i].size);
        EXPECT_EQ(e.height, want[i].size);
        EXPECT_EQ(e.planes, 1);
        EXPECT_EQ(e.bitCount, want[i].bits);

        const Blob image = LoadBlob(RT_ICON, e.id, kChinesePrc);
        EXPECT_EQ(image.size, e.bytesInRes);
        BITMAPINFOHEADER h;
        ASSERT_TRUE(ReadInfoHeader(image, h));
        EXPECT_EQ(h.biWidth, want[i].size);
        EXPECT_EQ(h.biHeight, 2 * want[i].size) << "colour image and mask";
        EXPECT_EQ(h.biBitCount, want[i].bits);
        EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
        const size_t mask = ((want[i].size + 31) / 32) * 4 * want[i].size;
        EXPECT_GE(image.size, h.biSize + 4 * PaletteEntries(h) + Stride(h) * want[i].size + mask);
    }
}

TEST(Icon, LoaderPicksTheImageOfTheAskedSize) {
    const Blob group = LoadBlob(RT_GROUP_ICON, 128, kChinesePrc);
    ASSERT_NE(group.data, nullptr);
    const std::vector<GroupIconEntry> entries = ReadIconGroup();
    ASSERT_EQ(entries.size(), 2u);
    PBYTE directory = const_cast<PBYTE>(group.data);
    EXPECT_EQ(LookupIconIdFromDirectoryEx(directory, TRUE, 32, 32, LR_DEFAULTCOLOR), entries[0].id);
    EXPECT_EQ(LookupIconIdFromDirectoryEx(directory, TRUE, 64, 64, LR_DEFAULTCOLOR), entries[1].id);
}

// --- Manifest ---------------------------------------------------------------------------------------

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
};

// Just enough XML for a manifest: the start tags in document order, with their attributes.
std::vector<XmlElement> StartTags(const std::string& text) {
    std::vector<XmlElement> tags;
    size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string::npos) {
        ++pos;
        if (pos < text.size() && (text[pos] == '/' || text[pos] == '!')) {
            continue;
        }
        XmlElement e;
        while (pos < text.size() && !isspace(static_cast<unsigned char>(text[pos])) && text[pos] != '>' &&
               text[pos] != '/') {
            e.name.push_back(text[pos++]);
        }
        while (pos < text.size() && text[pos] != '>') {
            if (isspace(static_cast<unsigned char>(text[pos])) || text[pos] == '/' || text[pos] == '?') {
                ++pos;
                continue;
            }
            const size_t equals = text.find('=', pos);
            const size_t open = equals == std::string::npos ? equals : text.find('"', equals);
            const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
            if (close == std::string::npos) {
                tags.push_back(XmlElement{"(malformed)", {}});
                return tags;
            }
            std::string name = text.substr(pos, equals - pos);
            while (!name.empty() && isspace(static_cast<unsigned char>(name.back()))) {
                name.pop_back();
            }
            e.attributes[name] = text.substr(open + 1, close - open - 1);
            pos = close + 1;
        }
        tags.push_back(e);
    }
    return tags;
}

TEST(Manifest, DeclaresOnlyTheCommonControlsDependency) {
    const Blob blob = LoadBlob(RT_MANIFEST, 1, kEnglishUs);
    ASSERT_NE(blob.data, nullptr);
    const std::string text(reinterpret_cast<const char*>(blob.data), blob.size);
    const std::vector<XmlElement> tags = StartTags(text);

    std::vector<std::string> names;
    for (const XmlElement& e : tags) {
        names.push_back(e.name);
    }
    const std::vector<std::string> expectedNames = {"?xml", "assembly", "dependency", "dependentAssembly",
                                                    "assemblyIdentity"};
    ASSERT_EQ(names, expectedNames) << text;

    const std::map<std::string, std::string> identity = {
        {"type", "win32"},
        {"name", "Microsoft.Windows.Common-Controls"},
        {"version", "6.0.0.0"},
        {"processorArchitecture", SETUP_MANIFEST_ARCH},
        {"publicKeyToken", "6595b64144ccf1df"},
        {"language", "*"},
    };
    EXPECT_EQ(tags[4].attributes, identity);
    EXPECT_EQ(tags[1].attributes.at("xmlns"), "urn:schemas-microsoft-com:asm.v1");
    EXPECT_EQ(tags[1].attributes.at("manifestVersion"), "1.0");
}

// --- Version block ----------------------------------------------------------------------------------

struct VersionNode {
    std::wstring key;
    uint16_t type = 0;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

// Every node: wLength, wValueLength, wType, the key, padding to a DWORD, the value, padding, and
// the children up to wLength. wValueLength counts characters for a text value, bytes otherwise.
bool ParseVersionNode(const uint8_t* base, size_t size, VersionNode& node) {
    Reader in(Blob{base, size});
    const uint16_t length = in.Word();
    const uint16_t valueLength = in.Word();
    node.type = in.Word();
    if (!in.ok() || length < 6 || length > size) {
        return false;
    }
    Reader body(Blob{base, length});
    body.Skip(6);
    node.key = body.String();
    body.AlignTo(4);
    const size_t valueBytes = node.type == 1 ? 2 * valueLength : valueLength;
    if (valueBytes > body.remaining()) {
        return false;
    }
    node.value.assign(body.Here(), body.Here() + valueBytes);
    body.Skip(valueBytes);
    body.AlignTo(4);
    while (body.ok() && body.remaining() >= 6) {
        VersionNode child;
        if (!ParseVersionNode(body.Here(), body.remaining(), child)) {
            return false;
        }
        const uint16_t childLength = static_cast<uint16_t>(body.Here()[0] | (body.Here()[1] << 8));
        node.children.push_back(child);
        body.Skip(childLength);
        body.AlignTo(4);
    }
    return true;
}

std::wstring TextValue(const VersionNode& node) {
    std::wstring text;
    for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(node.value[i] | (node.value[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

const VersionNode* Child(const VersionNode& node, const wchar_t* key) {
    for (const VersionNode& child : node.children) {
        if (child.key == key) {
            return &child;
        }
    }
    return nullptr;
}

TEST(VersionBlock, FixedPartAndStrings) {
    const Blob blob = LoadBlob(RT_VERSION, 1, kChinesePrc);
    ASSERT_NE(blob.data, nullptr);
    VersionNode root;
    ASSERT_TRUE(ParseVersionNode(blob.data, blob.size, root));
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");

    VS_FIXEDFILEINFO fixed;
    ASSERT_EQ(root.value.size(), sizeof fixed);
    memcpy(&fixed, root.value.data(), sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed.dwFileFlags & fixed.dwFileFlagsMask, 0u) << "no flags";
    EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));

    const VersionNode* strings = Child(root, L"StringFileInfo");
    ASSERT_NE(strings, nullptr);
    ASSERT_EQ(strings->children.size(), 1u) << "one string table";
    const VersionNode& table = strings->children[0];
    EXPECT_EQ(table.key, L"080404B0");
    const std::pair<const wchar_t*, const wchar_t*> wanted[] = {
        {L"FileVersion", L"1, 0, 0, 1"},
        {L"ProductVersion", L"1, 0, 0, 1"},
        {L"InternalName", L"Setup.exe"},
        {L"OriginalFilename", L"Setup.exe"},
    };
    for (const auto& [key, text] : wanted) {
        const VersionNode* value = Child(table, key);
        ASSERT_NE(value, nullptr) << "no string " << testing::PrintToString(std::wstring(key));
        EXPECT_EQ(value->type, 1) << "a text value";
        EXPECT_EQ(TextValue(*value), text);
    }

    // The translation list, where present, must point at the one string table.
    if (const VersionNode* vars = Child(root, L"VarFileInfo")) {
        const VersionNode* translation = Child(*vars, L"Translation");
        ASSERT_NE(translation, nullptr);
        const std::vector<uint8_t> expected = {0x04, 0x08, 0xB0, 0x04};
        EXPECT_EQ(translation->value, expected);
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_exePath = ChooseExePath(argc, argv);
    if (g_exePath.empty()) {
        fprintf(stderr, "name the Setup.exe to read: an argument or env SETUP_EXE\n");
        return 2;
    }
    g_module = LoadLibraryExW(g_exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (g_module == nullptr) {
        fprintf(stderr, "cannot load %ls as a resource module (error %lu)\n", g_exePath.c_str(), GetLastError());
        return 2;
    }
    const int result = RUN_ALL_TESTS();
    FreeLibrary(g_module);
    return result;
}
