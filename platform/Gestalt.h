#pragma once

#include <cstdint>
#include <optional>

namespace platform {

using OSErr = std::int16_t;
using OSType = std::uint32_t;
using SInt32 = std::int32_t;

inline constexpr OSErr noErr = 0;
inline constexpr OSErr gestaltUndefSelectorErr = -5551;

// The selector of the system version, 'sysv'.
inline constexpr OSType gestaltSystemVersion = 0x73797376;

// The compatibility level this platform layer provides, in binary-coded decimal
// (0x1040 is level 10.4.0).
inline constexpr SInt32 kPlatformCompatibilityLevel = 0x1040;

// Answers a system query. Only the system version is known: it fills the response
// with the compatibility level and returns noErr; any other selector, or a null
// response, gives gestaltUndefSelectorErr and leaves the response alone.
OSErr Gestalt(OSType selector, SInt32* response);

// Tests: make the system-version query report another level, or fail (nothing); an
// empty override restores the real answer. Process-wide.
void setGestaltSystemVersionOverride(std::optional<std::optional<SInt32>> version);

} // namespace platform
