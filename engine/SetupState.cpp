#include "SetupState.h"

SetupState setupState;

InstallJob::~InstallJob() {
    // Whoever destroys the job first waits for its worker, however long the roll-back takes. A run
    // still under way is stopped first: a worker left waiting for the second disc would never end.
    Set(running, false);
    platform::JoinThread(worker);
}
