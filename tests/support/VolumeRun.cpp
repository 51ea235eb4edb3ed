#include "VolumeRun.h"

#include <windows.h>

namespace {

std::string Variable(const char* name)
{
    char value[1024] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

} // namespace

VolumeRun CurrentVolumeRun()
{
    VolumeRun run;
    const std::string phase = Variable("ORLENWICK_VOLUME_PHASE");
    run.Phase = phase == "mounted"   ? VolumePhase::Mounted
                : phase == "examine" ? VolumePhase::Examine
                                     : VolumePhase::None;
    run.Drive = Variable("ORLENWICK_VOLUME_DRIVE");
    run.Folder = Variable("ORLENWICK_VOLUME_FOLDER");
    run.CaseFolder = Variable("ORLENWICK_VOLUME_CASE_FOLDER");
    return run;
}
