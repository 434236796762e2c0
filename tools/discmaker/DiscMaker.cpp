#include "DiscMaker.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "DiscPlan.h"
#include "IsoImage.h"
#include "Progress.h"
#include "TreeScan.h"
#include "VolumeIo.h"

namespace {

// 700 MiB: an 80-minute CD-R holds 360,000 sectors of 2048 bytes (737,280,000 bytes), which leaves
// over 3 MB for the image's own folders and descriptors.
constexpr std::uint64_t kDefaultCapacity = 700ull * 1024 * 1024;
// 2024-01-01 00:00:00 UTC, the time stamp of every file on the discs unless --date or
// SOURCE_DATE_EPOCH says otherwise.
constexpr std::int64_t kDefaultEpoch = 1704067200;

const char* const kVolumeNames[kVolumeCount] = {"data1.cab", "data2.cab", "data3.cab",
                                                "data4.cab", "data5.cab", "data6.cab"};
// The names the setup program looks for beside itself, and the option that gives each.
struct SideFileName {
    const char* discName;
    const char* option;
};
const SideFileName kSideFiles[4] = {
    {"Setup.exe", "--setup"}, {"eula.txt", "--eula"}, {"den.dat", "--den"}, {"launch.ini", "--launch"}};

const char kUsage[] =
    "usage:\n"
    "  discmaker pack --tree DIR --setup Setup.exe --eula eula.txt --den den.dat --launch launch.ini\n"
    "                 --out OUTDIR [--capacity BYTES|700M] [--label1 LABEL] [--label2 LABEL]\n"
    "                 [--date YYYY-MM-DD] [--no-iso] [--force] [--xorriso PROGRAM]\n"
    "  discmaker verify --tree DIR --out OUTDIR [--setup F --eula F --den F --launch F]\n"
    "pack writes OUTDIR/disc1 (Setup.exe, data1-3.cab, eula.txt, den.dat, launch.ini), OUTDIR/disc2\n"
    "(data4-6.cab) and the images OUTDIR/disc1.iso and OUTDIR/disc2.iso; nothing at all when it fails.\n"
    "verify reads the volumes and images back, checks every entry against the tree and prints the\n"
    "manifest: entry name, size and SHA-256, tab-separated.\n";

struct Options {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
};

bool ParseOptions(const std::vector<std::string>& arguments, const std::set<std::string>& valued,
                  const std::set<std::string>& switches, Options& options, std::ostream& err) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (switches.count(argument) != 0) {
            options.flags.insert(argument);
        } else if (valued.count(argument) != 0) {
            if (i + 1 >= arguments.size()) {
                err << "discmaker: " << argument << " needs a value\n" << kUsage;
                return false;
            }
            options.values[argument] = arguments[++i];
        } else {
            err << "discmaker: unknown option " << argument << "\n" << kUsage;
            return false;
        }
    }
    return true;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Whether inner is the folder outer or lies below it; for an output folder that does not exist yet,
// its parent decides.
bool IsInside(const std::string& inner, const std::string& outer) {
    std::string innerReal = RealPath(inner);
    if (innerReal.empty()) {
        innerReal = RealPath(std::filesystem::path(inner).parent_path().empty()
                                 ? std::string(".")
                                 : std::filesystem::path(inner).parent_path().string());
    }
    const std::string outerReal = RealPath(outer);
    if (innerReal.empty() || outerReal.empty()) {
        return false;
    }
    return innerReal == outerReal || innerReal.compare(0, outerReal.size() + 1, outerReal + "/") == 0;
}

bool ParseDate(const std::string& text, std::int64_t& epoch) {
    int year = 0, month = 0, day = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3 || year < 1980 ||
        year > 2099 || month < 1 || month > 12 || day < 1 || day > 31) {
        return false;
    }
    // Days since 1970 by the civil calendar (Howard Hinnant's days_from_civil).
    const int y = year - (month <= 2);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    epoch = (static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468) * 86400;
    return true;
}

void PrintProblems(std::ostream& err, const std::vector<std::string>& problems, const char* kind) {
    for (const std::string& problem : problems) {
        err << "discmaker: " << kind << ": " << problem << "\n";
    }
}

// Everything pack creates lives in a hidden folder inside OUTDIR until the end, so a refusal, a
// failure or Ctrl-C leaves OUTDIR as it was.
class Staging {
public:
    ~Staging() { Discard(); }
    bool Create(const std::string& outFolder, std::string& error) {
        outFolder_ = outFolder;
        if (!Exists(outFolder)) {
            if (::mkdir(outFolder.c_str(), 0755) != 0) {
                error = outFolder + ": cannot be created (" + std::strerror(errno) + ")";
                return false;
            }
            createdOut_ = true;
        }
        std::string pattern = outFolder + "/.discmaker-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = outFolder + ": cannot make a working folder in it (" + std::strerror(errno) + ")";
            return false;
        }
        path_ = pattern;
        return true;
    }
    const std::string& path() const { return path_; }
    void Discard() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
            path_.clear();
        }
        if (createdOut_) {
            ::rmdir(outFolder_.c_str());
            createdOut_ = false;
        }
    }
    // Moves the finished names into OUTDIR; earlier outputs of these names (only with --force) go into
    // the working folder first and vanish with it. On a failure the names already moved go back.
    bool Commit(const std::vector<std::string>& names, std::string& error) {
        const std::string old = path_ + "/replaced";
        if (::mkdir(old.c_str(), 0755) != 0) {
            error = old + ": cannot be created";
            return false;
        }
        std::vector<std::pair<std::string, std::string>> done;  // from, to, for undoing
        const auto undo = [&]() {
            for (auto it = done.rbegin(); it != done.rend(); ++it) {
                ::rename(it->second.c_str(), it->first.c_str());
            }
        };
        for (const std::string& name : names) {
            const std::string target = outFolder_ + "/" + name;
            if (Exists(target)) {
                if (::rename(target.c_str(), (old + "/" + name).c_str()) != 0) {
                    error = target + ": cannot be replaced (" + std::strerror(errno) + ")";
                    undo();
                    return false;
                }
                done.emplace_back(target, old + "/" + name);
            }
            const std::string made = path_ + "/" + name;
            if (!Exists(made)) {
                continue;
            }
            if (::rename(made.c_str(), target.c_str()) != 0) {
                error = target + ": cannot be put in place (" + std::strerror(errno) + ")";
                undo();
                return false;
            }
            done.emplace_back(made, target);
        }
        createdOut_ = false;
        return true;
    }

private:
    std::string outFolder_;
    std::string path_;
    bool createdOut_ = false;
};

bool SetTimes(const std::string& path, std::int64_t epoch) {
    const timespec times[2] = {{static_cast<time_t>(epoch), 0}, {static_cast<time_t>(epoch), 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string Thousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, ",");
    }
    return digits;
}

int Pack(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool terminal) {
    Options options;
    if (!ParseOptions(arguments,
                      {"--tree", "--setup", "--eula", "--den", "--launch", "--out", "--capacity", "--label1",
                       "--label2", "--date", "--xorriso"},
                      {"--no-iso", "--force", "--quiet"}, options, err)) {
        return 2;
    }
    for (const char* required : {"--tree", "--setup", "--eula", "--den", "--launch", "--out"}) {
        if (options.values.count(required) == 0) {
            err << "discmaker: pack needs " << required << "\n" << kUsage;
            return 2;
        }
    }
    std::vector<std::string> errors;
    std::uint64_t capacity = kDefaultCapacity;
    if (options.values.count("--capacity") != 0 && !ParseCapacity(options.values["--capacity"], capacity)) {
        err << "discmaker: --capacity " << options.values["--capacity"]
            << ": give bytes, or a number with K, M or G (binary multiples), such as 700M\n";
        return 2;
    }
    const bool makeIso = options.flags.count("--no-iso") == 0;
    IsoSettings iso;
    iso.epoch = kDefaultEpoch;
    if (const char* sourceDate = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        const long long value = std::strtoll(sourceDate, &end, 10);
        if (end != sourceDate && *end == '\0' && value >= 0) {
            iso.epoch = value;
        }
    }
    if (options.values.count("--date") != 0 && !ParseDate(options.values["--date"], iso.epoch)) {
        err << "discmaker: --date " << options.values["--date"] << ": give a day as YYYY-MM-DD, 1980 to 2099\n";
        return 2;
    }
    if (options.values.count("--xorriso") != 0) {
        iso.xorriso = options.values["--xorriso"];
    }
    std::string labels[2] = {"VEYLORAN_DISC1", "VEYLORAN_DISC2"};
    for (int disc = 0; disc < 2; ++disc) {
        const std::string option = disc == 0 ? "--label1" : "--label2";
        if (options.values.count(option) != 0) {
            labels[disc] = options.values[option];
        }
        if (!IsValidVolumeLabel(labels[disc])) {
            errors.push_back(option + " " + labels[disc] +
                             ": a volume label takes 1 to 16 of A-Z, 0-9 and _ (Windows shows 16 characters of a "
                             "Joliet label)");
        }
    }
    if (labels[0] == labels[1] && errors.empty()) {
        errors.push_back("the two discs need different labels");
    }

    const std::string tree = options.values["--tree"];
    const std::string outFolder = options.values["--out"];
    std::vector<PackFile> sideFiles;
    std::uint64_t sideBytes = 0;
    for (const SideFileName& side : kSideFiles) {
        const std::string& path = options.values[side.option];
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            errors.push_back(std::string(side.option) + " " + path + ": not a readable file");
            continue;
        }
        sideFiles.push_back(PackFile{side.discName, path, static_cast<std::uint64_t>(info.st_size)});
        sideBytes += sideFiles.back().size;
    }

    Progress progress(err, terminal && options.flags.count("--quiet") == 0);
    TreeScan scan;
    ScanTree(tree, scan);
    errors.insert(errors.end(), scan.errors.begin(), scan.errors.end());
    if (IsFolder(tree) && IsInside(outFolder, tree)) {
        errors.push_back(outFolder + ": the output folder lies inside the tree, so a later run would pack it");
    }
    DiscLayout layout;
    if (errors.empty()) {
        PlanDiscs(scan.files, sideBytes, capacity, layout, errors);
    }
    const std::vector<std::string> outputs = {"disc1", "disc2", "disc1.iso", "disc2.iso"};
    if (errors.empty() && options.flags.count("--force") == 0) {
        for (const std::string& name : outputs) {
            if (Exists(outFolder + "/" + name)) {
                errors.push_back(outFolder + "/" + name + ": already exists; remove it or pass --force");
            }
        }
    }
    PrintProblems(err, scan.notes, "note");
    if (!errors.empty()) {
        PrintProblems(err, errors, "error");
        err << "discmaker: nothing was written\n";
        return 1;
    }

    Staging staging;
    std::string error;
    const std::atomic<bool>& cancel = CancelRequested();
    const auto fail = [&](const std::string& message) {
        progress.End();
        staging.Discard();
        err << "discmaker: error: " << message << "\ndiscmaker: nothing was written\n";
        return 1;
    };
    if (!staging.Create(outFolder, error)) {
        return fail(error);
    }
    const std::string discFolders[2] = {staging.path() + "/disc1", staging.path() + "/disc2"};
    for (const std::string& folder : discFolders) {
        if (::mkdir(folder.c_str(), 0755) != 0) {
            return fail(folder + ": cannot be created");
        }
    }
    std::uint64_t totalBytes = layout.discBytes[0] + layout.discBytes[1];
    progress.Begin("packing", totalBytes);
    const ProgressFunction advance = [&](std::uint64_t bytes) { progress.Add(bytes); };
    for (int volume = 0; volume < kVolumeCount; ++volume) {
        std::vector<const PackFile*> entries;
        for (std::size_t index : layout.volumes[static_cast<std::size_t>(volume)]) {
            entries.push_back(&scan.files[index]);
        }
        const std::string path = discFolders[volume / kVolumesPerDisc] + "/" + kVolumeNames[volume];
        if (!WriteVolumeFile(path, entries, cancel, advance, error)) {
            return fail(error);
        }
    }
    for (const PackFile& side : sideFiles) {
        if (!CopyPlainFile(side, discFolders[0] + "/" + side.entryName, cancel, advance, error)) {
            return fail(error);
        }
    }
    progress.End();
    // Fixed times on the disc files as well as inside the images: the folders are what a maker may
    // burn directly.
    for (int disc = 0; disc < 2; ++disc) {
        std::error_code ignored;
        for (const auto& item : std::filesystem::directory_iterator(discFolders[disc], ignored)) {
            SetTimes(item.path().string(), iso.epoch);
        }
        SetTimes(discFolders[disc], iso.epoch);
    }
    std::uint64_t imageBytes[2] = {0, 0};
    if (makeIso) {
        for (int disc = 0; disc < 2; ++disc) {
            iso.label = labels[disc];
            const std::string image = staging.path() + "/" + outputs[static_cast<std::size_t>(disc + 2)];
            progress.Begin("disc" + std::to_string(disc + 1) + ".iso", 100);
            if (!MakeIsoImage(iso, discFolders[disc], image, cancel,
                              [&](int percent) { progress.SetPercent(percent); }, error)) {
                return fail(error);
            }
            progress.End();
            struct stat info {};
            ::stat(image.c_str(), &info);
            imageBytes[disc] = static_cast<std::uint64_t>(info.st_size);
        }
    }
    if (cancel.load(std::memory_order_acquire)) {
        return fail("interrupted");
    }
    if (!staging.Commit(outputs, error)) {
        return fail(error);
    }

    for (int disc = 0; disc < 2; ++disc) {
        out << "disc" << disc + 1 << ": " << Thousands(layout.discBytes[static_cast<std::size_t>(disc)])
            << " bytes of " << Thousands(capacity);
        if (makeIso) {
            out << ", image " << outputs[static_cast<std::size_t>(disc + 2)] << " " << Thousands(imageBytes[disc])
                << " bytes, label " << labels[disc];
        }
        out << "\n";
        for (int v = disc * kVolumesPerDisc; v < (disc + 1) * kVolumesPerDisc; ++v) {
            const auto index = static_cast<std::size_t>(v);
            out << "  " << kVolumeNames[v] << ": " << layout.volumes[index].size() << (layout.volumes[index].size() == 1 ? " file, " : " files, ")
                << Thousands(layout.volumeBytes[index]) << " bytes\n";
        }
    }
    return 0;
}

int Verify(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool terminal) {
    Options options;
    if (!ParseOptions(arguments, {"--tree", "--out", "--setup", "--eula", "--den", "--launch"}, {"--quiet"}, options,
                      err)) {
        return 2;
    }
    for (const char* required : {"--tree", "--out"}) {
        if (options.values.count(required) == 0) {
            err << "discmaker: verify needs " << required << "\n" << kUsage;
            return 2;
        }
    }
    const std::string outFolder = options.values["--out"];
    TreeScan scan;
    ScanTree(options.values["--tree"], scan);
    std::vector<std::string> errors = scan.errors;
    if (!errors.empty()) {
        PrintProblems(err, errors, "error");
        return 1;
    }
    std::map<std::string, const PackFile*> treeFiles;
    for (const PackFile& file : scan.files) {
        treeFiles.emplace(file.entryName, &file);
    }
    std::set<std::string> seen;
    const std::string discFolders[2] = {outFolder + "/disc1", outFolder + "/disc2"};

    std::uint64_t work = 0;
    for (int volume = 0; volume < kVolumeCount; ++volume) {
        struct stat info {};
        if (::stat((discFolders[volume / kVolumesPerDisc] + "/" + kVolumeNames[volume]).c_str(), &info) == 0) {
            work += 3 * static_cast<std::uint64_t>(info.st_size);  // the volume, the tree's file, the image
        }
    }
    Progress progress(err, terminal && options.flags.count("--quiet") == 0);
    progress.Begin("verifying", work);
    const ProgressFunction advance = [&](std::uint64_t bytes) { progress.Add(bytes); };

    std::uint64_t entryCount = 0;
    std::uint64_t entryBytes = 0;
    for (int volume = 0; volume < kVolumeCount; ++volume) {
        const std::string path = discFolders[volume / kVolumesPerDisc] + "/" + kVolumeNames[volume];
        std::string error;
        const bool readable = ReadVolumeFile(
            path,
            [&](const VolumeRecord& record) {
                out << record.name << '\t' << record.size << '\t' << record.sha256 << '\n';
                ++entryCount;
                entryBytes += record.size;
                const std::string where = std::string(kVolumeNames[volume]) + ": " + record.name;
                const auto found = treeFiles.find(record.name);
                if (found == treeFiles.end()) {
                    errors.push_back(where + ": no such file in the tree");
                    return;
                }
                if (!seen.insert(record.name).second) {
                    errors.push_back(where + ": stored twice");
                    return;
                }
                std::string treeHash;
                std::uint64_t treeSize = 0;
                if (!HashFile(found->second->sourcePath, treeHash, treeSize, advance)) {
                    errors.push_back(found->second->sourcePath + ": cannot be read");
                } else if (treeSize != record.size) {
                    errors.push_back(where + ": " + std::to_string(record.size) + " bytes, the tree's file " +
                                     std::to_string(treeSize));
                } else if (treeHash != record.sha256) {
                    errors.push_back(where + ": the content differs from the tree's file");
                }
            },
            advance, error);
        if (!readable) {
            errors.push_back(error);
        }
    }
    for (const PackFile& file : scan.files) {
        if (seen.count(file.entryName) == 0) {
            errors.push_back(file.entryName + ": in the tree, but in none of the volumes");
        }
    }

    // What each disc folder holds, with each file's hash, for the side files and the images.
    std::map<std::string, std::pair<std::uint64_t, std::string>> discContent[2];
    for (int disc = 0; disc < 2; ++disc) {
        std::error_code ignored;
        for (const auto& item : std::filesystem::directory_iterator(discFolders[disc], ignored)) {
            std::string hash;
            std::uint64_t size = 0;
            if (!HashFile(item.path().string(), hash, size, [](std::uint64_t) {})) {
                errors.push_back(item.path().string() + ": cannot be read");
                continue;
            }
            discContent[disc][item.path().filename().string()] = {size, hash};
        }
    }
    for (const SideFileName& side : kSideFiles) {
        const auto onDisc = discContent[0].find(side.discName);
        if (onDisc == discContent[0].end()) {
            errors.push_back(discFolders[0] + "/" + side.discName + ": missing");
            continue;
        }
        if (options.values.count(side.option) != 0) {
            std::string hash;
            std::uint64_t size = 0;
            if (!HashFile(options.values[side.option], hash, size, [](std::uint64_t) {})) {
                errors.push_back(options.values[side.option] + ": cannot be read");
            } else if (hash != onDisc->second.second) {
                errors.push_back(discFolders[0] + "/" + side.discName + ": differs from " + options.values[side.option]);
            }
        }
    }

    int imagesChecked = 0;
    for (int disc = 0; disc < 2; ++disc) {
        const std::string image = outFolder + "/disc" + std::to_string(disc + 1) + ".iso";
        if (!Exists(image)) {
            continue;
        }
        ++imagesChecked;
        IsoListing listing;
        std::string error;
        if (!ReadIsoRoot(image, listing, error)) {
            errors.push_back(error);
            continue;
        }
        std::set<std::string> inImage;
        for (const IsoFile& file : listing.files) {
            inImage.insert(file.name);
            const auto onDisc = discContent[disc].find(file.name);
            if (file.isFolder || onDisc == discContent[disc].end()) {
                errors.push_back(image + ": " + file.name + " is not in " + discFolders[disc]);
                continue;
            }
            std::string hash;
            if (!HashIsoFile(image, file, hash, advance)) {
                errors.push_back(image + ": " + file.name + " cannot be read");
            } else if (file.size != onDisc->second.first || hash != onDisc->second.second) {
                errors.push_back(image + ": " + file.name + " differs from " + discFolders[disc] + "/" + file.name);
            }
        }
        for (const auto& [name, content] : discContent[disc]) {
            if (inImage.count(name) == 0) {
                errors.push_back(image + ": " + name + " is missing from the image");
            }
        }
    }
    progress.End();
    if (!errors.empty()) {
        PrintProblems(err, errors, "error");
        err << "discmaker: verify failed: " << errors.size() << " problem" << (errors.size() == 1 ? "" : "s") << "\n";
        return 1;
    }
    err << "discmaker: verified " << entryCount << " entries (" << Thousands(entryBytes) << " bytes) in 6 volumes";
    err << (imagesChecked == 2 ? " and both images\n"
                               : imagesChecked == 1 ? "; only one image was found and checked\n" : "; no images found\n");
    return 0;
}

}  // namespace

std::atomic<bool>& CancelRequested() {
    static std::atomic<bool> requested{false};
    return requested;
}

bool ParseCapacity(const std::string& text, std::uint64_t& bytes) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    std::size_t digits = 0;
    std::uint64_t value = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        if (value > UINT64_MAX / 10 - 9) {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
        ++digits;
    }
    const std::string suffix = text.substr(digits);
    unsigned shift = 0;
    if (suffix == "K" || suffix == "k") {
        shift = 10;
    } else if (suffix == "M" || suffix == "m") {
        shift = 20;
    } else if (suffix == "G" || suffix == "g") {
        shift = 30;
    } else if (!suffix.empty()) {
        return false;
    }
    if (value == 0 || value > (UINT64_MAX >> (shift + 2))) {
        return false;
    }
    bytes = value << shift;
    return true;
}

int RunDiscMaker(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool terminal) {
    if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
        (arguments.empty() ? err : out) << kUsage;
        return arguments.empty() ? 2 : 0;
    }
    if (arguments[0] == "pack") {
        return Pack(arguments, out, err, terminal);
    }
    if (arguments[0] == "verify") {
        return Verify(arguments, out, err, terminal);
    }
    err << "discmaker: unknown command " << arguments[0] << "\n" << kUsage;
    return 2;
}
