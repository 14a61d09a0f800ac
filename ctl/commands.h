// The console tool's commands over one registry store, whatever store the
// program chose at start. Every command is registered in commands.cpp's
// one table; each verb has a file of its own (list.cpp, get.cpp, ...).
#pragma once

#include "ctl/store_provider.h"

#include <string>
#include <vector>

namespace kestro {

// `arguments` without the program's name; "/?" stands for --help.
int RunKestroctl(const std::vector<std::string>& arguments, StoreProvider& stores, Console& console);

}  // namespace kestro
