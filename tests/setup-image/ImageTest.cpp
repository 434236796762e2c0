#include <windows.h>
// After windows.h, which it needs.
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

// DLLs that Windows resolves from its own folder whatever the search path: a DLL named beside the
// program cannot stand in for them.
const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll",   "gdi32.dll", "shell32.dll",
                                           "ole32.dll",    "advapi32.dll", "msvcrt.dll"};

class SetupImage : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream file(SETUP_EXE_PATH, std::ios::binary);
        ASSERT_TRUE(file) << SETUP_EXE_PATH;
        image_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        ASSERT_GT(image_.size(), sizeof(IMAGE_DOS_HEADER));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image_.data());
        ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
        ASSERT_LT(static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS), image_.size());
        nt_ = reinterpret_cast<const IMAGE_NT_HEADERS*>(image_.data() + dos->e_lfanew);
        ASSERT_EQ(nt_->Signature, IMAGE_NT_SIGNATURE);
        // The test is built for the architecture of the program it reads.
        ASSERT_EQ(nt_->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR_MAGIC);
    }

    const char* AtRva(DWORD rva) const {
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt_);
        for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
            if (rva >= section->VirtualAddress && rva - section->VirtualAddress < section->SizeOfRawData) {
                return image_.data() + section->PointerToRawData + (rva - section->VirtualAddress);
            }
        }
        return nullptr;
    }

    std::vector<char> image_;
    const IMAGE_NT_HEADERS* nt_ = nullptr;
};

TEST_F(SetupImage, HeaderFlags) {
    // Paged from the swap file, not from a disc the user takes out while the program runs.
    EXPECT_TRUE(nt_->FileHeader.Characteristics & IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP);
    EXPECT_EQ(nt_->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    WORD expected = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT;
#ifdef _WIN64
    expected |= IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA;
#endif
    EXPECT_EQ(nt_->OptionalHeader.DllCharacteristics & expected, expected);
    // ASLR needs the relocations that a static link may drop.
    EXPECT_NE(nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
    // A time stamp would make every build differ.
    EXPECT_EQ(nt_->FileHeader.TimeDateStamp, 0u);
}

TEST_F(SetupImage, ChecksumMatchesImagehlp) {
    DWORD stored = 0;
    DWORD computed = 0;
    ASSERT_EQ(::MapFileAndCheckSumA(SETUP_EXE_PATH, &stored, &computed), static_cast<DWORD>(CHECKSUM_SUCCESS));
    EXPECT_NE(stored, 0u);
    EXPECT_EQ(stored, computed);
}

TEST_F(SetupImage, ImportsOnlySystemDlls) {
    const IMAGE_DATA_DIRECTORY& directory = nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(AtRva(directory.VirtualAddress));
    ASSERT_NE(descriptor, nullptr);
    std::set<std::string> imported;
    for (; descriptor->Name != 0; ++descriptor) {
        const char* name = AtRva(descriptor->Name);
        ASSERT_NE(name, nullptr);
        std::string lower(name);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        imported.insert(lower);
    }
    EXPECT_EQ(imported.count("kernel32.dll"), 1u);
    for (const std::string& dll : imported) {
        EXPECT_EQ(kSystemDlls.count(dll), 1u) << dll << " is no known system DLL";
    }
    // Nothing is delay-loaded behind the table's back either.
    EXPECT_EQ(nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
}

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountNameLanguages(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR count) {
    ::EnumResourceLanguagesA(module, type, name, CountLanguage, count);
    return TRUE;
}

TEST_F(SetupImage, HoldsExactlyOneManifest) {
    // A toolchain's default manifest beside ours would decide which common controls the program gets.
    HMODULE module = ::LoadLibraryExA(SETUP_EXE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    int manifests = 0;
    ::EnumResourceNamesA(module, MAKEINTRESOURCEA(24), CountNameLanguages, reinterpret_cast<LONG_PTR>(&manifests));
    ::FreeLibrary(module);
    EXPECT_EQ(manifests, 1);
}

}  // namespace
