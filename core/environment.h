#pragma once

#include <string>

namespace kestro {

// ExpandEnvironmentStringsA into a 256-byte buffer; a variable that is not
// set stays as it was written ("%TEMP%").
std::string ExpandEnvironment(const char* text);

}  // namespace kestro
