#pragma once
// MaskWords: whole-word writes into a std::vector<bool> mask.
//
// In: flags packed 64 to a uint64_t (flag q of a word in bit q, lowest
// first), or a second mask. Out: the same flags in the mask, entry by entry
// as operator[] reads them. Cost: one store per 64 flags where the standard
// library's word layout is known (libstdc++ on 64-bit words: flag i in bit
// i % 64 of word i / 64), one store per flag elsewhere and for the flags
// before and after whole words.
//
// Two threads may write one mask at once only where their ranges start and
// end on multiples of 64: each word then has a single writer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace MaskWords {

// Particles per task of a mask (parallel::ForEachBlock): below this many a
// task costs more than it saves, and a multiple of 64 so that no two tasks
// share a word.
constexpr size_t kTaskChunk = size_t(1) << 16;
static_assert(kTaskChunk % 4096 == 0, "task borders must fall on mask words");

#if defined(__GLIBCXX__) && defined(__LP64__)
// The layout this fast path relies on; another library version that changed
// the word type or size breaks the build here instead of the masks.
using Word = std::remove_reference_t<decltype(*std::vector<bool>::iterator()._M_p)>;
static_assert(std::is_same<Word, unsigned long>::value, "std::vector<bool> words are no longer unsigned long");
static_assert(sizeof(Word) == sizeof(uint64_t), "std::vector<bool> words are no longer 64 bits");
constexpr bool kWholeWords = true;
#else
constexpr bool kWholeWords = false;
#endif

// mask[begin + q] = bit q % 64 of flags[q / 64] for q in [0, end − begin).
inline void Store(const uint64_t* flags, size_t begin, size_t end, std::vector<bool>& mask)
{
    size_t q = begin;
#if defined(__GLIBCXX__) && defined(__LP64__)
    if (begin % 64 == 0) {
        Word* words = mask.begin()._M_p + begin / 64;
        for (; q + 64 <= end; q += 64) *words++ = static_cast<Word>(flags[(q - begin) / 64]);
    }
#endif
    for (; q < end; ++q) mask[q] = (flags[(q - begin) / 64] >> ((q - begin) % 64)) & 1;
}

// mask[q] = true, safe against other threads setting flags of the same word
// at the same time (and nothing else writing it). Only where kWholeWords.
inline void SetAtomically(std::vector<bool>& mask, size_t q)
{
#if defined(__GLIBCXX__) && defined(__LP64__)
    Word* word = mask.begin()._M_p + q / 64;
    __atomic_fetch_or(word, Word{1} << (q % 64), __ATOMIC_RELAXED);
#else
    mask[q] = true;
#endif
}

// Asks the processor to fetch the word of mask[q] for a coming write.
inline void PrefetchForWrite(std::vector<bool>& mask, size_t q)
{
#if defined(__GLIBCXX__) && defined(__LP64__)
    __builtin_prefetch(mask.begin()._M_p + q / 64, 1);
#else
    (void)mask;
    (void)q;
#endif
}

// to[i] = from[i] for i in [0, n); both hold at least n entries.
inline void CopyPrefix(const std::vector<bool>& from, std::vector<bool>& to, size_t n)
{
    size_t i = 0;
#if defined(__GLIBCXX__) && defined(__LP64__)
    const size_t words = n / 64;
    const Word* source = from.begin()._M_p;
    Word* target = to.begin()._M_p;
    for (size_t w = 0; w < words; ++w) target[w] = source[w];
    i = words * 64;
#endif
    for (; i < n; ++i) to[i] = from[i];
}

// out[i] = mask[i] (1 or 0) for i in [0, n); the mask holds at least n entries.
inline void Unpack(const std::vector<bool>& mask, unsigned char* out, size_t n)
{
    size_t i = 0;
#if defined(__GLIBCXX__) && defined(__LP64__)
    // Eight flags at a time: byte value v spread into eight bytes of 0 or 1,
    // lowest bit first (little-endian, as every target of this path is).
    static const auto spread = [] {
        struct Table {
            uint64_t of[256];
        } t{};
        for (int v = 0; v < 256; ++v)
            for (int b = 0; b < 8; ++b) t.of[v] |= static_cast<uint64_t>((v >> b) & 1) << (8 * b);
        return t;
    }();
    const size_t words = n / 64;
    const Word* source = mask.begin()._M_p;
    for (size_t w = 0; w < words; ++w) {
        const Word bits = source[w];
        for (int k = 0; k < 8; ++k) {
            const uint64_t bytes = spread.of[(bits >> (8 * k)) & 0xffu];
            std::memcpy(out + w * 64 + k * 8, &bytes, 8);
        }
    }
    i = words * 64;
#endif
    for (; i < n; ++i) out[i] = mask[i];
}

}  // namespace MaskWords
