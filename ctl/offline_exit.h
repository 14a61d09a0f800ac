// kestroctl's exit code for what the offline engine could not find (2, as
// for a wrong command line: nothing was written) or could not use (1).
#pragma once

#include "ctl/commands.h"
#include "offline/offline_error.h"

namespace kestro {

inline int ExitCodeFor(OfflineFault fault) {
    switch (fault) {
        case OfflineFault::NotFound: return kExitUsage;
        case OfflineFault::Unusable: return kExitFailed;
    }
    return kExitFailed;
}

}  // namespace kestro
