// Benchmark helper: makes the benchmark's trees and volumes, and times one extraction by the engine.
//   bench_extract make large|small TREE VOLUME   write the files of a data set and its volume, and
//                                                VOLUME.list: the entries in the volume's order
//                                                ('/' between names), for the reference's archive
//   bench_extract extract VOLUME OUTDIR          extract with the engine; prints seconds and peak memory
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Extractor.h"
#include "PeakMemory.h"
#include "VolumeWriter.h"

namespace fs = std::filesystem;

namespace {

bool WriteTreeFile(const fs::path& path, std::size_t size, std::mt19937_64& random) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(64 * 1024 / sizeof(std::uint64_t));
    std::size_t left = size;
    while (left > 0 && out) {
        for (auto& word : block) {
            word = random();
        }
        const std::size_t chunk = std::min(left, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
        left -= chunk;
    }
    return static_cast<bool>(out);
}

int Make(const std::string& kind, const fs::path& tree, const std::string& volume) {
    std::mt19937_64 random(20261211);
    std::vector<VolumeEntry> entries;
    auto add = [&](const std::string& relative, std::size_t size) {
        const fs::path file = tree / fs::u8path(relative);
        if (!WriteTreeFile(file, size, random)) {
            return false;
        }
        VolumeEntry entry;
        entry.name = relative;
        for (char& c : entry.name) {
            if (c == '/') {
                c = '\\';
            }
        }
        entry.sourcePath = file.u8string();
        entry.fromFile = true;
        entries.push_back(entry);
        return true;
    };
    if (kind == "large") {
        // 1.2 GiB in 60 files of 20 MiB.
        for (int i = 0; i < 60; ++i) {
            if (!add("voice/large" + std::to_string(i) + ".ogg", 20u * 1024 * 1024)) {
                return 1;
            }
        }
    } else if (kind == "small") {
        // 20,000 files of 1 to 16 KiB in 200 folders.
        std::uniform_int_distribution<std::size_t> sizes(1024, 16 * 1024);
        for (int i = 0; i < 20000; ++i) {
            if (!add("voice/d" + std::to_string(i % 200) + "/f" + std::to_string(i) + ".ogg", sizes(random))) {
                return 1;
            }
        }
    } else {
        std::fprintf(stderr, "unknown data set %s\n", kind.c_str());
        return 2;
    }
    // Sorted by name, as the disc maker lays out real volumes: folder after folder. The reference
    // archive takes the same order from the list, so both write the same files in the same order.
    // The separator sorts before every other byte, so a folder's files come before those of a folder
    // whose name continues its own ("d1" before "d10"), as in the disc maker's walk.
    auto key = [](std::string name) {
        std::replace(name.begin(), name.end(), '\\', '\x01');
        return name;
    };
    std::sort(entries.begin(), entries.end(),
              [&](const VolumeEntry& a, const VolumeEntry& b) { return key(a.name) < key(b.name); });
    std::string error;
    if (!WriteVolume(volume, entries, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::ofstream list(volume + ".list", std::ios::binary | std::ios::trunc);
    for (const VolumeEntry& entry : entries) {
        std::string name = entry.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        list << name << '\n';
    }
    return list ? 0 : 1;
}

int Extract(const fs::path& volume, const std::string& outDir) {
    setupState.sourceFolder = volume.parent_path().u8string();
    setupState.installFolder = outDir;
    InstallJob job;
    Set(job.running, true);
    const auto start = std::chrono::steady_clock::now();
    ExtractVolume(volume.filename().u8string(), job);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!job.errorText.empty()) {
        std::fprintf(stderr, "extraction failed\n");
        return 1;
    }
    std::printf("seconds %.3f peak_mib %.1f files %zu bytes %lld\n", seconds,
                static_cast<double>(PeakMemoryBytes()) / (1024.0 * 1024.0), job.createdFiles.size(),
                static_cast<long long>(job.bytesCopied));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "make") == 0) {
        return Make(argv[2], fs::u8path(argv[3]), argv[4]);
    }
    if (argc == 4 && std::strcmp(argv[1], "extract") == 0) {
        return Extract(fs::absolute(fs::u8path(argv[2])), argv[3]);
    }
    std::fprintf(stderr, "usage: bench_extract make large|small TREE VOLUME | extract VOLUME OUTDIR\n");
    return 2;
}
