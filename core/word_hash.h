// A fast 64-bit hash of a stream of byte runs, eight bytes at a step, for
// telling whether two large things (a hive in memory and the same hive read
// back from the disk) hold the same: not against someone who forges a match,
// but against any difference that happens.
//
// A byte-at-a-time FNV-1a costs a multiplication a byte, and on a hive of
// tens of megabytes that was most of a commit's time. Taking whole words in
// plain FNV fashion would be as fast but blind above: a multiplication
// carries a change only upwards, so a change in a word's top bit never
// reaches the lower ones, and a second such change cancels it. Each step
// here folds the product's high half back down, so every bit reaches the
// whole state.
#pragma once

#include "core/bytes.h"

#include <cstddef>
#include <cstdint>

namespace kestro {

class WordHash {
public:
    // One run of bytes. Its length is folded in with its last word, so runs
    // split differently (ab|c and a|bc) or zeros added hash apart. A long
    // run goes 32 bytes a step through four lanes of its own, which the
    // processor multiplies side by side, folded into the state at its end.
    void Mix(const void* data, std::size_t len) {
        const auto* p = static_cast<const unsigned char*>(data);
        if (len >= 32) {
            std::uint64_t lane[4] = {h_, h_ ^ 0x9E3779B97F4A7C15ull, h_ ^ 0xC2B2AE3D27D4EB4Full,
                                     h_ ^ 0x165667B19E3779F9ull};
            for (; len >= 32; p += 32, len -= 32)
                for (int i = 0; i < 4; ++i) lane[i] = Step(lane[i], LoadLe64(p + 8 * i));
            for (std::uint64_t l : lane) h_ = Step(h_, l);
        }
        for (; len >= 8; p += 8, len -= 8) h_ = Step(h_, LoadLe64(p));
        std::uint64_t tail = static_cast<std::uint64_t>(len) << 56;
        for (std::size_t i = 0; i < len; ++i) tail |= static_cast<std::uint64_t>(p[i]) << (8 * i);
        h_ = Step(h_, tail);
    }
    std::uint64_t Value() const { return h_; }

private:
    // A bijection of the state for each word: a difference never vanishes
    // in one step.
    static std::uint64_t Step(std::uint64_t state, std::uint64_t word) {
        state = (state ^ word) * 0x100000001B3ull;
        return state ^ (state >> 29);
    }
    std::uint64_t h_ = 0xCBF29CE484222325ull;
};

}  // namespace kestro
