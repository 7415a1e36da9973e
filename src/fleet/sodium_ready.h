// libsodium is started once, before its first use.
#pragma once

#include <sodium.h>

namespace kt::fleet {

// False when libsodium cannot start (it found no source of randomness):
// nothing that needs it may then go on.
inline bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

} // namespace kt::fleet
