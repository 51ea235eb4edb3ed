#include "VolumeRun.h"

#include <gtest/gtest.h>

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

void RunVolumePhase(const std::string& label, const std::function<void(const VolumeRun&)>& mounted,
                    const std::function<void(const VolumeRun&)>& examine)
{
    const VolumeRun run = CurrentVolumeRun();
    if (run.Phase == VolumePhase::Mounted)
        mounted(run);
    else if (run.Phase == VolumePhase::Examine)
        examine(run);
    else
        FAIL() << "this case needs a real NTFS volume: run it through tests/VolumeScenario.sh "
                  "(ctest -L "
               << label << "), which mounts one and runs each phase";
}
