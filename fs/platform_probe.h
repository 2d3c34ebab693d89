#pragma once

namespace fs {

// The one-time probe that decides between wide and narrow Windows calls. On POSIX there is no
// such choice; the probe still runs once and sets the same state so callers need not care.
void ProbePlatform();

// True when the platform is of the NT family (always true on POSIX).
bool DetectOSVersion();

// Process-wide module state.
struct ProbeState {
    bool probeDone = false;
    bool UseWideApi = false;
    bool hasGetVersionExW = false;
    bool hasGetVersionExA = false;
};
ProbeState& ModuleState();

// Shorthand for ModuleState().UseWideApi.
bool UseWideApi();

}  // namespace fs
