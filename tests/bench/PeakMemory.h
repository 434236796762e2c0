// The process's peak resident memory, in bytes.
#pragma once

#include <cstddef>

std::size_t PeakMemoryBytes();
