// Words a player can act on when a file operation fails: the system's own, and,
// where the medium is the likely cause, that the disk or share may be full,
// read-only or gone.
#pragma once

#include <string>

#include "platform/platform.h"

// reason, followed by the likely cause of the platform's last failure, if any.
inline std::string withCause(const std::string& reason) {
    switch (platform::lastFailure()) {
        case platform::Failure::Full: return reason + " (the disk or share may be full)";
        case platform::Failure::ReadOnly: return reason + " (the disk or share is read-only)";
        case platform::Failure::InputOutput:
        case platform::Failure::Refused: return reason + " (the disk or share may be full or read-only)";
        case platform::Failure::Gone: return reason + " (the share may have gone away: is the network there?)";
        default: return reason;
    }
}
