// Which entry goes into which of the six volumes. Pure arithmetic on sizes: the same list always gives
// the same layout.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "TreeScan.h"

inline constexpr int kVolumeCount = 6;
inline constexpr int kVolumesPerDisc = 3;

// The bytes an entry takes in a volume: both lengths, the name, its zero byte and the data.
std::uint64_t RecordBytes(const PackFile& file);

struct DiscLayout {
    // Indexes into the sorted file list, ascending inside each volume. Volumes 0-2 lie on the first
    // disc, 3-5 on the second.
    std::array<std::vector<std::size_t>, kVolumeCount> volumes;
    std::array<std::uint64_t, kVolumeCount> volumeBytes{};
    std::array<std::uint64_t, 2> discBytes{};  // the first disc's count includes sideBytes
};

// Divides the files over two discs of capacity bytes each, the first of which also carries sideBytes
// (Setup.exe, eula.txt, den.dat, launch.ini). Each disc takes a run of the sorted list, cut where the two
// discs come closest to equal; each disc's run is cut into three volumes so that the largest is as
// small as it can be. Only when no single cut fits both discs are the files dealt out by size instead
// (each volume still in sorted order). False, with every reason in errors, when the files cannot fit.
bool PlanDiscs(const std::vector<PackFile>& files, std::uint64_t sideBytes, std::uint64_t capacity,
               DiscLayout& layout, std::vector<std::string>& errors);
