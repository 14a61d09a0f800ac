// The running Windows' PolicyBroadcaster (kestroctl.exe only).
#pragma once

#include "ctl/notify.h"

namespace kestro {

class SystemPolicyBroadcaster final : public PolicyBroadcaster {
public:
    // SendMessageTimeoutW to HWND_BROADCAST with SMTO_ABORTIFHUNG, waiting
    // at most 5 s in all. Nothing is reported: a window that did not hear
    // of the change still reads it at the next logon.
    void Broadcast(const WrittenScopes& written) override;
};

}  // namespace kestro
