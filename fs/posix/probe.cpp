#include "fs/platform_probe.h"

namespace fs {

ProbeState& ModuleState() {
    static ProbeState state;
    return state;
}

// POSIX names are bytes and every call takes any length: there is no narrow family to fall
// back to, so the probe always settles on the "wide" path.
bool DetectOSVersion() {
    return true;
}

void ProbePlatform() {
    ProbeState& s = ModuleState();
    s.probeDone = true;
    s.UseWideApi = DetectOSVersion();
}

bool UseWideApi() {
    return ModuleState().UseWideApi;
}

}  // namespace fs
