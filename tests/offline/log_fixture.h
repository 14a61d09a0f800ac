// What the log tests check with: the Windows-made dirty hives, skipped
// where they are absent, and hive listings compared line by line. The logs
// themselves are made by tests/support/log_files.
#pragma once

#include "tests/support/log_files.h"

#include <gtest/gtest.h>

#include <string>

namespace kestro::test {

// Whether two DumpHive listings are the same; where not, the first line
// that differs, cut short.
::testing::AssertionResult SameDump(const std::string& expected, const std::string& actual);

// Skips the test, saying why, where those hives are not here.
#define REQUIRE_DIRTY_HIVES(dir)                                                                      \
    const std::string dir = ::kestro::test::DirtyHives();                                           \
    if (dir.empty())                                                                                \
    GTEST_SKIP() << "the hives Windows left dirty are not at " << ::kestro::test::DirtyHivesWanted() \
                 << " (set KESTRO_DIRTY_HIVES): nothing is checked against Windows' own recovery"

}  // namespace kestro::test
