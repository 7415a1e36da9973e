// The times a link keeps on the line, and whether the line echoes each
// request: a value of its own, so that the link never holds the window's
// other settings.
#pragma once

#include "shell/settings.h"

namespace kt::link {

struct LineTimes {
    float txDelayMs = shell::kMinTxDelay;     // pause before a request is written
    float rxDelayMs = shell::kMinRxDelay;     // pause before the reply wait starts
    float rxTimeOutMs = shell::kMinRxTimeOut; // reply time-out, also the pause between tries
    bool echo = false;                        // the line echoes each request (RS-485)
};

// The link's part of the settings.
inline LineTimes lineTimesOf(const shell::Settings& settings) {
    return {.txDelayMs = settings.sngTxDelay,
            .rxDelayMs = settings.sngRxDelay,
            .rxTimeOutMs = settings.sngRxTimeOut,
            .echo = settings.echo};
}

} // namespace kt::link
