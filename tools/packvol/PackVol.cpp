// packvol: writes one volume in the setup program's format.
//   packvol OUT.cab --tree DIR        every file below DIR, named relative to it, sorted by name bytes
//   packvol OUT.cab NAME=FILE ...     the files given, in the order given (NAME ends at the first '=')
// A refused entry leaves no volume behind; an existing OUT.cab stays as it was.
#include <cstdio>
#include <string>
#include <vector>

#include "VolumeWriter.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int Usage() {
    std::fputs(
        "usage: packvol OUT.cab --tree DIR\n"
        "       packvol OUT.cab NAME=FILE ...\n",
        stderr);
    return 2;
}

int Run(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        return Usage();
    }
    const std::string& volumePath = args[0];
    std::vector<VolumeEntry> entries;
    std::string error;
    if (args[1] == "--tree") {
        if (args.size() != 3) {
            return Usage();
        }
        if (!ListTree(args[2], entries, error)) {
            std::fprintf(stderr, "packvol: %s\n", error.c_str());
            return 1;
        }
    } else {
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::size_t equals = args[i].find('=');
            if (equals == std::string::npos) {
                std::fprintf(stderr, "packvol: %s: expected NAME=FILE\n", args[i].c_str());
                return Usage();
            }
            VolumeEntry entry;
            entry.name = args[i].substr(0, equals);
            entry.sourcePath = args[i].substr(equals + 1);
            entry.fromFile = true;
            entries.push_back(std::move(entry));
        }
    }
    if (!WriteVolume(volumePath, entries, error)) {
        std::fprintf(stderr, "packvol: %s; %s not written\n", error.c_str(), volumePath.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &arg[0], size, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(arg);
    }
    return Run(args);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
