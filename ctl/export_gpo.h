// `kestroctl export gpo DIR --name NAME`: a whole GPO for a domain to take in
// one step (formats/gpo_backup.h), written below DIR.
#pragma once

#include "ctl/commands.h"
#include "formats/gpo_backup.h"
#include "formats/reg_value.h"

#include <string>
#include <vector>

namespace kestro {

// Writes the export of `values` as the GPO `name` into DIR, which must not
// hold an export already: a new export beside an old one's files would
// leave those in its backups. Says what it wrote, or why not, on the
// console; returns the exit code (2 for a name, a folder or values that
// cannot be exported, 1 for a file that cannot be written).
int ExportGpo(const std::vector<RegValue>& values, const std::string& dir, const std::string& name,
              const GpoStamp& stamp, Console& console);

}  // namespace kestro
