// What the offline engine throws for an installation, profile or hive it
// cannot find or cannot use. The kind says which; a program maps kinds to
// its own exit codes.
#pragma once

#include <stdexcept>
#include <string>

namespace kestro {

enum class OfflineFault {
    NotFound,  // a path, hive or user that is not there (or not one)
    Unusable,  // there, but cannot be read or used as it is
};

class OfflineError : public std::runtime_error {
public:
    OfflineError(OfflineFault fault, const std::string& message) : std::runtime_error(message), fault_(fault) {}
    OfflineFault Fault() const { return fault_; }

private:
    OfflineFault fault_;
};

}  // namespace kestro
