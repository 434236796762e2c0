// The install worker: both discs, the side files, and success or roll-back.
#pragma once

#include <cstdint>

#include "SetupState.h"

// Whether the three volumes of one disc (volumes 0-2 or 3-5) exist in the source folder.
bool VolumesPresent(const InstallJob& job, bool firstDisc);

// The worker thread's procedure; its parameter is the job. Returns 0.
std::uint32_t InstallWorker(void* job);

// Starts InstallWorker on the job's own thread. The job's destruction waits for it.
bool StartInstallWorker(InstallJob& job);

// Deletes every file the run created and puts back every earlier file it moved aside.
void RollBack(InstallJob& job);

// After a successful run: removes the earlier files that were moved aside.
void DiscardKeptFiles(InstallJob& job);
