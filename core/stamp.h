// What makes one export unlike every other: random bytes for its
// identifiers, and the time it was made.
#pragma once

#include <cstddef>
#include <string>

namespace kestro {

// `size` bytes from the system's random source (/dev/urandom; RtlGenRandom
// on Windows, which XP has). False, with the system's reason, when there are
// none: an identifier made up of anything weaker could meet another one.
bool RandomBytes(void* out, std::size_t size, std::string* error);

// The time now in UTC, as "YYYY-MM-DDTHH:MM:SS".
std::string UtcTimeText();

}  // namespace kestro
