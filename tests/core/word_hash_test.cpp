// The hash that compares a hive in memory with the same hive read back: any
// difference that can happen must hash apart, above all those a plain
// word-wise FNV misses.
#include "core/word_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace kestro {
namespace {

std::uint64_t HashOf(const std::vector<std::string>& runs) {
    WordHash hash;
    for (const std::string& run : runs) hash.Mix(run.data(), run.size());
    return hash.Value();
}

std::string Block(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

TEST(WordHashTest, EverySingleBitFlipHashesApart) {
    // 67 bytes: two steps of four lanes, and a tail of three; 91: the same,
    // three single words and a tail.
    for (std::size_t size : {67, 91}) {
        const std::string base = Block(size);
        std::set<std::uint64_t> seen = {HashOf({base})};
        for (std::size_t bit = 0; bit < base.size() * 8; ++bit) {
            std::string flipped = base;
            flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
            EXPECT_TRUE(seen.insert(HashOf({flipped})).second) << size << " bytes, bit " << bit;
        }
    }
}

TEST(WordHashTest, TwoChangesInTheTopBitsDoNotCancel) {
    // In a plain word-wise FNV the top bit of the state takes the xor of the
    // words' top bits and nothing else: these two flips would cancel.
    const std::string base = Block(64);
    for (std::size_t first = 0; first < 8; ++first)
        for (std::size_t second = first + 1; second < 8; ++second) {
            std::string changed = base;
            changed[first * 8 + 7] = static_cast<char>(changed[first * 8 + 7] ^ 0x80);
            changed[second * 8 + 7] = static_cast<char>(changed[second * 8 + 7] ^ 0x80);
            EXPECT_NE(HashOf({base}), HashOf({changed})) << "words " << first << " and " << second;
        }
}

TEST(WordHashTest, WordsSwappedOrRunsSplitOtherwiseHashApart) {
    const std::string a(8, 'a'), b(8, 'b');
    EXPECT_NE(HashOf({a + b}), HashOf({b + a}));
    // Within one lane, and from one lane to another.
    EXPECT_NE(HashOf({a + b + a + b + b + a + b + a}), HashOf({b + b + a + b + a + a + b + a}));
    EXPECT_NE(HashOf({a + b + a + b}), HashOf({b + a + a + b}));
    EXPECT_NE(HashOf({"ab", "c"}), HashOf({"a", "bc"}));
    EXPECT_NE(HashOf({"abc"}), HashOf({"ab", "c"}));
    // Zeros added, in the tail and as a whole word.
    EXPECT_NE(HashOf({"abc"}), HashOf({std::string("abc\0", 4)}));
    EXPECT_NE(HashOf({a}), HashOf({a + std::string(8, '\0')}));
    EXPECT_NE(HashOf({""}), HashOf({}));
    EXPECT_EQ(HashOf({a + b, "xyz"}), HashOf({a + b, "xyz"}));
}

}  // namespace
}  // namespace kestro
