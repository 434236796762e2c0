#include <sys/resource.h>

#include "PeakMemory.h"

std::size_t PeakMemoryBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;  // Linux reports KiB
}
