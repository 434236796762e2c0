// libFuzzer harness: each input is one volume, extracted into a scratch install folder that is
// emptied again afterwards. Beyond crashes and sanitizer reports it traps when the job's results break
// the extractor's promises: a failure text of a known form set with finished and running, progress
// no larger than the volume, and nothing created outside the install folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "Extractor.h"
#include "Texts.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
    fs::path root;
    fs::path source;
    fs::path install;

    Scratch() {
        std::error_code error;
        for (unsigned i = 0;; ++i) {
            root = fs::temp_directory_path() / ("setup-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(i));
            if (fs::create_directory(root, error)) {
                break;
            }
        }
        source = root / "src";
        install = root / "inst";
        fs::create_directory(source, error);
        setupState.sourceFolder = source.string();
        setupState.installFolder = install.string();
        // No 4 MiB allocation per input: inputs are small, and the small buffer keeps each run cheap.
        ForceFallbackBuffer(true);
    }
    ~Scratch() {
        std::error_code error;
        fs::remove_all(root, error);
    }
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool KnownFailureText(const std::string& text) {
    const std::string volumePath = setupState.sourceFolder + "\\data1.cab";
    return text == kTextWriteFailed || text == std::string(kTextBadVolumePrefix) + volumePath + kTextVolumeSuffix;
}

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Scratch& scratch = TheScratch();
    {
        std::ofstream volume(scratch.source / "data1.cab", std::ios::binary | std::ios::trunc);
        volume.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::error_code error;
    fs::create_directory(scratch.install, error);
    {
        // An earlier file for the records that replace one.
        std::ofstream earlier(scratch.install / "keep.txt", std::ios::binary | std::ios::trunc);
        earlier << "from before";
    }

    {
        InstallJob job;
        Set(job.running, true);
        ExtractVolume("data1.cab", job);

        if (job.errorText.empty()) {
            Check(!Get(job.finished));
        } else {
            Check(Get(job.finished) && !Get(job.running) && KnownFailureText(job.errorText));
        }
        Check(job.bytesCopied >= 0 && static_cast<std::uint64_t>(job.bytesCopied) <= size);
        for (const std::string& path : job.createdFiles) {
            Check(StartsWith(path, setupState.installFolder));
        }
        for (const KeptFile& kept : job.keptFiles) {
            Check(StartsWith(kept.keptPath, setupState.installFolder));
        }
    }

    // Only the two folders and the volume may exist outside the install folder.
    std::size_t outside = 0;
    for (auto it = fs::recursive_directory_iterator(scratch.root, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->path() == scratch.install) {
            it.disable_recursion_pending();
        }
        ++outside;
    }
    Check(outside == 3);

    fs::remove_all(scratch.install, error);
    return 0;
}
