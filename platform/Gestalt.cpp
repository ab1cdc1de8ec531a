#include "platform/Gestalt.h"

#include <mutex>

namespace platform {
namespace {

std::mutex overrideMutex;
std::optional<std::optional<SInt32>> versionOverride;

} // namespace

OSErr Gestalt(OSType selector, SInt32* response) {
    if (selector != gestaltSystemVersion || !response)
        return gestaltUndefSelectorErr;
    std::optional<SInt32> version = kPlatformCompatibilityLevel;
    {
        std::lock_guard lock(overrideMutex);
        if (versionOverride)
            version = *versionOverride;
    }
    if (!version)
        return gestaltUndefSelectorErr;
    *response = *version;
    return noErr;
}

void setGestaltSystemVersionOverride(std::optional<std::optional<SInt32>> version) {
    std::lock_guard lock(overrideMutex);
    versionOverride = version;
}

} // namespace platform
