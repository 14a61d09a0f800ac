// `kestroctl export admx DIR`: an administrative template for the Group
// Policy editor, for the settings Windows' own templates lack
// (BuiltInPolicy): DIR/kestro.admx, DIR/en-US/kestro.adml and
// DIR/ru-RU/kestro.adml, for %SystemRoot%\PolicyDefinitions or a domain's
// central store.
#pragma once

#include "ctl/commands.h"

#include <string>

namespace kestro {

// Writes the three files; says what it wrote, or why not. The exit code.
int ExportAdmx(const std::string& dir, Console& console);

}  // namespace kestro
