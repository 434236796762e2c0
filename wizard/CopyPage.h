// The copy page's parts, shared by its procedure and its tests.
#pragma once

#include <cstdint>

// The progress bar's position for a byte count: whole mebibytes, at most RequiredMegabytes.
int ProgressPosition(std::int64_t bytesCopied);
