// MaskWords: whole-word stores and copies land on the entries operator[] reads.
#include "geometry/MaskWords.h"

#include <gtest/gtest.h>

#include <random>

TEST(MaskWords, StoreAndCopyKeepTheBitOrderOfEveryEntry)
{
    std::mt19937_64 rng(7);
    std::vector<uint64_t> flags(5);
    for (uint64_t& w : flags) w = rng();
    flags[0] = 0x8000000000000001ull;  // first and last flag of a word
    // Aligned starts take whole words, the others and every tail go flag by flag.
    for (size_t begin : {size_t(0), size_t(64), size_t(3)})
        for (size_t length : {size_t(64), size_t(200), size_t(5)}) {
            std::vector<bool> mask(400, true);
            MaskWords::Store(flags.data(), begin, begin + length, mask);
            for (size_t i = 0; i < mask.size(); ++i) {
                const bool expected =
                    i < begin || i >= begin + length ? true : ((flags[(i - begin) / 64] >> ((i - begin) % 64)) & 1);
                ASSERT_EQ(mask[i], expected) << "begin " << begin << ", length " << length << ", entry " << i;
            }
        }
    std::vector<bool> from(300), to(300, true);
    for (size_t i = 0; i < from.size(); ++i) from[i] = (rng() & 1) != 0;
    MaskWords::CopyPrefix(from, to, 250);
    for (size_t i = 0; i < to.size(); ++i) ASSERT_EQ(to[i], i < 250 ? from[i] : true) << "entry " << i;
    // Unpack: a byte per flag, whole words and the tail alike, nothing past n.
    std::vector<unsigned char> bytes(300, 7);
    MaskWords::Unpack(from, bytes.data(), 250);
    for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], i < 250 ? from[i] : 7) << "entry " << i;
}
