// What an export can carry is decided once, for both writers: a value one of
// them refuses, the other refuses for the same reason.
#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/reg_file.h"
#include "formats/values.h"
#include "tests/formats/format_test_values.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestro {
namespace {

using testing::Dword;
using testing::Text;

std::string Refusal(const std::function<void()>& write) {
    try {
        write();
    } catch (const FormatError& e) {
        return e.what();
    }
    return "(written)";
}

TEST(ExportCheck, BothWritersRefuseWhatCannotBeReadBackForTheSameReason) {
    struct Case {
        RegValue value;
        const char* reason;
    };
    const Case cases[] = {
        {RegValue{kHkeyCurrentUser, "K", "Bin", kRegBinary, {1, 2, 3}}, "only REG_SZ and REG_DWORD values can be written"},
        {RegValue{kHkeyCurrentUser, "K", "Short", kRegDword, {1, 0, 0}}, "a REG_DWORD needs 4 bytes of data"},
        {RegValue{kHkeyCurrentUser, "K", "Odd", kRegSz, {'a', 0, 0}}, "REG_SZ data is not one UTF-16 text ending in a zero"},
        {RegValue{kHkeyCurrentUser, "K", "Inner", kRegSz, {'a', 0, 0, 0, 'b', 0, 0, 0}},
         "REG_SZ data is not one UTF-16 text ending in a zero"},
        {Text(kHkeyCurrentUser, "K", "Long", std::u16string(layout::kMaxTextChars + 1, u'x')),
         "the text is longer than 4096 characters"},
        {Dword(kHkeyCurrentUser, "K\\", "TrailingSlash", 1), "the key path ends with a backslash"},
        {Dword(kHkeyCurrentUser, "\xC3(", "BadPath", 1), "the key path is not UTF-8"},
        {Dword(kHkeyCurrentUser, "K", "\xC3(", 1), "the value name is not UTF-8"},
        {Dword(kHkeyCurrentUser, "K", "a\tb", 1), "the value name holds a control character"},
        // The key path's fault is found before the name's.
        {Dword(kHkeyCurrentUser, "a\\\\b", "\xC3(", 1), "the key path has an empty key name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(c.reason, ExportProblem(c.value));
        const std::string reg = Refusal([&] { WriteRegFile({c.value}); });
        const std::string pol = Refusal([&] { WritePolicyFiles({c.value}); });
        EXPECT_NE(std::string::npos, reg.find(c.reason)) << reg;
        EXPECT_NE(std::string::npos, pol.find(c.reason)) << pol;
    }
    // What both take.
    for (const RegValue& value : testing::SampleValues()) EXPECT_EQ("", ExportProblem(value)) << value.name;
}

}  // namespace
}  // namespace kestro
