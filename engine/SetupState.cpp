#include "SetupState.h"

SetupState setupState;

InstallJob::~InstallJob() {
    // Whoever destroys the job first waits for its worker, however long the roll-back takes.
    platform::JoinThread(worker);
}
