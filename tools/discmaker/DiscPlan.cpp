#include "DiscPlan.h"

#include <algorithm>
#include <numeric>

namespace {

std::string Bytes(std::uint64_t count) {
    return std::to_string(count) + " bytes";
}

// Cuts the indexes (in order) into three runs so that the largest run is as small as possible; among
// equal answers the earliest cuts win.
void SplitIntoVolumes(const std::vector<std::size_t>& indexes, const std::vector<std::uint64_t>& recordBytes,
                      DiscLayout& layout, int firstVolume) {
    const std::size_t count = indexes.size();
    std::vector<std::uint64_t> prefix(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        prefix[i + 1] = prefix[i] + recordBytes[indexes[i]];
    }
    const std::uint64_t total = prefix[count];
    std::uint64_t best = UINT64_MAX;
    std::size_t bestFirst = 0;
    std::size_t bestSecond = 0;
    for (std::size_t first = 0; first <= count; ++first) {
        // The second cut nearest to halving the rest; the larger half then is smallest there or just before.
        const std::uint64_t middle = prefix[first] + (total - prefix[first]) / 2;
        const std::size_t near = static_cast<std::size_t>(
            std::lower_bound(prefix.begin() + static_cast<std::ptrdiff_t>(first), prefix.end(), middle) -
            prefix.begin());
        for (std::size_t second : {near > first ? near - 1 : first, std::min(near, count)}) {
            const std::uint64_t largest =
                std::max({prefix[first], prefix[second] - prefix[first], total - prefix[second]});
            if (largest < best) {
                best = largest;
                bestFirst = first;
                bestSecond = second;
            }
        }
    }
    const std::size_t cuts[4] = {0, bestFirst, bestSecond, count};
    for (int v = 0; v < kVolumesPerDisc; ++v) {
        auto& volume = layout.volumes[static_cast<std::size_t>(firstVolume + v)];
        volume.assign(indexes.begin() + static_cast<std::ptrdiff_t>(cuts[v]),
                      indexes.begin() + static_cast<std::ptrdiff_t>(cuts[v + 1]));
        layout.volumeBytes[static_cast<std::size_t>(firstVolume + v)] = prefix[cuts[v + 1]] - prefix[cuts[v]];
    }
}

// Largest first, each to the disc with more room left, ties to the first disc. Used only when no single
// cut of the sorted list fits, which needs a few files that are large next to a disc.
bool DealBySize(const std::vector<std::uint64_t>& recordBytes, std::uint64_t sideBytes, std::uint64_t capacity,
                std::vector<std::size_t>& first, std::vector<std::size_t>& second) {
    std::vector<std::size_t> order(recordBytes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return recordBytes[a] > recordBytes[b]; });
    std::uint64_t used[2] = {sideBytes, 0};
    for (std::size_t index : order) {
        const std::uint64_t size = recordBytes[index];
        int disc = (capacity - used[0] >= capacity - used[1]) ? 0 : 1;
        if (used[disc] + size > capacity) {
            disc = 1 - disc;
        }
        if (used[disc] + size > capacity) {
            return false;
        }
        used[disc] += size;
        (disc == 0 ? first : second).push_back(index);
    }
    std::sort(first.begin(), first.end());
    std::sort(second.begin(), second.end());
    return true;
}

}  // namespace

std::uint64_t RecordBytes(const PackFile& file) {
    return 4 + file.entryName.size() + 1 + 4 + file.size;
}

bool PlanDiscs(const std::vector<PackFile>& files, std::uint64_t sideBytes, std::uint64_t capacity,
               DiscLayout& layout, std::vector<std::string>& errors) {
    layout = DiscLayout{};
    std::vector<std::uint64_t> recordBytes;
    recordBytes.reserve(files.size());
    std::uint64_t total = 0;
    const std::size_t errorsBefore = errors.size();
    for (const PackFile& file : files) {
        recordBytes.push_back(RecordBytes(file));
        total += recordBytes.back();
        if (recordBytes.back() > capacity) {
            errors.push_back(file.entryName + ": " + Bytes(file.size) + " (" + Bytes(recordBytes.back()) +
                             " in a volume), larger than a disc of " + Bytes(capacity));
        }
    }
    if (sideBytes > capacity) {
        errors.push_back("Setup.exe, eula.txt, den.dat and launch.ini: " + Bytes(sideBytes) +
                         " together, more than the first disc's " + Bytes(capacity));
    }
    if (errors.size() == errorsBefore && total + sideBytes > 2 * capacity) {
        errors.push_back("the tree and the four files beside Setup.exe: " + Bytes(total + sideBytes) +
                         " in all, more than two discs of " + Bytes(capacity) + " each");
    }
    if (errors.size() != errorsBefore) {
        return false;
    }

    // The cut of the sorted list that brings the two discs closest; the earliest of equal ones.
    std::uint64_t bestGap = UINT64_MAX;
    std::size_t bestCut = 0;
    bool found = false;
    std::uint64_t prefix = 0;
    for (std::size_t cut = 0; cut <= files.size(); ++cut) {
        if (cut > 0) {
            prefix += recordBytes[cut - 1];
        }
        const std::uint64_t first = sideBytes + prefix;
        const std::uint64_t second = total - prefix;
        if (first > capacity) {
            break;
        }
        if (second > capacity) {
            continue;
        }
        const std::uint64_t gap = first > second ? first - second : second - first;
        if (gap < bestGap) {
            bestGap = gap;
            bestCut = cut;
            found = true;
        }
    }
    std::vector<std::size_t> firstDisc;
    std::vector<std::size_t> secondDisc;
    if (found) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            (i < bestCut ? firstDisc : secondDisc).push_back(i);
        }
    } else if (!DealBySize(recordBytes, sideBytes, capacity, firstDisc, secondDisc)) {
        errors.push_back("the files fit two discs of " + Bytes(capacity) +
                         " in total, but cannot be divided between them without splitting a file; the largest is " +
                         Bytes(*std::max_element(recordBytes.begin(), recordBytes.end())));
        return false;
    }
    SplitIntoVolumes(firstDisc, recordBytes, layout, 0);
    SplitIntoVolumes(secondDisc, recordBytes, layout, kVolumesPerDisc);
    layout.discBytes[0] = sideBytes + layout.volumeBytes[0] + layout.volumeBytes[1] + layout.volumeBytes[2];
    layout.discBytes[1] = layout.volumeBytes[3] + layout.volumeBytes[4] + layout.volumeBytes[5];
    return true;
}
