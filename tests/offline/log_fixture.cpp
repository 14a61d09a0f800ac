#include "tests/offline/log_fixture.h"

namespace kestro::test {

::testing::AssertionResult SameDump(const std::string& expected, const std::string& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t line = 0, at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        if (expected[at++] == '\n') ++line;
    std::size_t start = expected.rfind('\n', at ? at - 1 : 0);
    start = start == std::string::npos ? 0 : start + 1;
    return ::testing::AssertionFailure() << "the dumps differ at line " << line + 1 << ": expected \""
                                         << expected.substr(start, 100) << "\", got \"" << actual.substr(start, 100)
                                         << "\" (" << expected.size() << " and " << actual.size() << " bytes)";
}

}  // namespace kestro::test
