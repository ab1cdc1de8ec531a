#pragma once

#include <cstdint>

namespace platform {

// Change subscriptions for directories: a subscriber is told that the contents of a
// directory changed (an entry was created, deleted or renamed), never what changed.
//
// Callbacks run on the subscription service's own thread, one at a time. Ending a
// subscription is a barrier: once FNUnsubscribe returns, its callback is neither
// running nor going to run (a callback may end its own subscription). A callback must
// therefore never wait for a thread that might be ending a subscription.
// The service needs the application object; it stops when that object is destroyed.

using OSStatus = std::int32_t;
using OptionBits = std::uint32_t;
using FNMessage = std::uint32_t;

struct OpaqueFNSubscriptionRef;
using FNSubscriptionRef = OpaqueFNSubscriptionRef*;
using FNSubscriptionProcPtr = void (*)(FNMessage message, OptionBits flags, void* refcon,
                                       FNSubscriptionRef subscription);
using FNSubscriptionUPP = FNSubscriptionProcPtr;

// The one message the service sends: the directory's contents changed.
inline constexpr FNMessage kFNDirectoryModifiedMessage = 1;

// Results.
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus ioErr = -36;     // the service cannot watch it (or is not running)
inline constexpr OSStatus fnfErr = -43;    // no such file or directory
inline constexpr OSStatus paramErr = -50;  // a null path, callback or result place
inline constexpr OSStatus dirNFErr = -120; // the path is not a directory

FNSubscriptionUPP NewFNSubscriptionUPP(FNSubscriptionProcPtr proc);

// Subscribes callback to changes of the directory at directoryPath (UTF-8). On noErr,
// *subscription identifies the subscription; a handle is never reused.
OSStatus FNSubscribeByPath(const char* directoryPath, FNSubscriptionUPP callback, void* refcon,
                           OptionBits flags, FNSubscriptionRef* subscription);
// Ends a subscription; an unknown one gives paramErr.
OSStatus FNUnsubscribe(FNSubscriptionRef subscription);

} // namespace platform
