// The registry's two hashes of a name, for the registry and for the loads
// that hash a name once and hand the hash on with it.
#ifndef KORVEX_HANDLES_NAME_HASH_H_
#define KORVEX_HANDLES_NAME_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace korvex::handles::names {

// Upper-cases the bytes 'a' to 'z' of a word, eight at a time, leaving
// every other byte as it is.
inline std::uint64_t UpperWord(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    const std::uint64_t low7 = word & (0x7F * kOnes);
    const std::uint64_t atLeastA = low7 + (0x80 - 'a') * kOnes;
    const std::uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * kOnes;
    const std::uint64_t lower = atLeastA & ~aboveZ & ~word & (0x80 * kOnes);
    return word - (lower >> 2);
}

inline std::uint64_t Word(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
}
inline std::uint32_t Half(const char* at) {
    std::uint32_t half;
    std::memcpy(&half, at, 4);
    return half;
}
// Both halves of the 128-bit product folded: every input bit reaches
// every output bit.
inline std::uint64_t Mum(std::uint64_t a, std::uint64_t b) {
    __extension__ using Wide = unsigned __int128;
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// The sum of a word's bytes b0 (lowest) to b7, each taken as signed 8
// bit, times 4^7 for b0 down to 4^0 for b7 (32-bit wrapping).
inline std::uint32_t WeighedBytes(std::uint64_t word) {
    const auto weigh = [](std::uint64_t w) {
        // Pairs, then quads, then the two halves, each step the lower
        // part times its weight plus the higher part.
        w = ((w & 0x00FF00FF00FF00FFull) << 2) + ((w >> 8) & 0x00FF00FF00FF00FFull);
        w = ((w & 0x0000FFFF0000FFFFull) << 4) + ((w >> 16) & 0x0000FFFF0000FFFFull);
        return static_cast<std::uint32_t>(((w & 0xFFFFFFFFull) << 8) + (w >> 32));
    };
    const std::uint64_t high = (word >> 7) & 0x0101010101010101ull;
    // A byte from 0x80 on counts 256 less than its unsigned value.
    return high ? weigh(word) - (weigh(high) << 8) : weigh(word);
}

// The look-up hash: 16 bytes at a time, each 8 with bit 0x20 of every
// byte cleared (which takes 'a' to 'z' to 'A' to 'Z' in one step; names
// that differ in that bit elsewhere only share a hash), mixed by one
// 64 x 64 bit product. Short names and the tail are read as overlapping
// words, never byte by byte.
inline std::uint32_t LookupHash(std::string_view name) {
    constexpr std::uint64_t kFold = ~0x2020202020202020ull;
    constexpr std::uint64_t kMix1 = 0x9E3779B97F4A7C15ull;
    constexpr std::uint64_t kMix2 = 0xD6E8FEB86659FD93ull;
    const char* data = name.data();
    const std::size_t size = name.size();
    std::uint64_t hash = size * kMix1;
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    if (size > 16) {
        std::size_t i = 0;
        for (; i + 16 < size; i += 16)
            hash = Mum((Word(data + i) & kFold) ^ hash ^ kMix1,
                       (Word(data + i + 8) & kFold) ^ kMix2);
        first = Word(data + size - 16);
        second = Word(data + size - 8);
    } else if (size >= 8) {
        first = Word(data);
        second = Word(data + size - 8);
    } else if (size >= 4) {
        first = Half(data) | (std::uint64_t{Half(data + size - 4)} << 32);
    } else if (size > 0) {
        first = static_cast<std::uint8_t>(data[0]) |
                (std::uint64_t{static_cast<std::uint8_t>(data[size / 2])} << 8) |
                (std::uint64_t{static_cast<std::uint8_t>(data[size - 1])} << 16);
    }
    hash = Mum((first & kFold) ^ hash ^ kMix1, (second & kFold) ^ kMix2);
    hash = Mum(hash ^ kMix2, size ^ kMix1);
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

// The name hash without a loop over the characters: a character n places
// from the end is multiplied by 4^n, which is 0 in 32 bits from n = 16 on,
// so only the last 15 characters count, and they lie in the last two
// words. Each word's bytes are weighed in a few word-wide steps.
inline std::uint32_t BucketHash(std::string_view name) {
    const std::size_t size = name.size();
    const char* data = name.data();
    std::uint64_t last = 0;  // bytes size-8 .. size-1, missing ones zero
    std::uint64_t before = 0;  // bytes size-16 .. size-9
    if (size >= 16) {
        std::memcpy(&before, data + size - 16, 8);
        std::memcpy(&last, data + size - 8, 8);
    } else if (size >= 8) {
        std::memcpy(&before, data, 8);
        before = size > 8 ? before << (8 * (16 - size)) : 0;
        std::memcpy(&last, data + size - 8, 8);
    } else {
        for (std::size_t k = 0; k < size; ++k)
            last |= std::uint64_t{static_cast<std::uint8_t>(data[k])} << (8 * (8 - size + k));
    }
    // The last byte of a word is 4^1 from the word's end, its first 4^8.
    return (WeighedBytes(UpperWord(last)) << 2) + (WeighedBytes(UpperWord(before)) << 18);
}

}  // namespace korvex::handles::names

#endif  // KORVEX_HANDLES_NAME_HASH_H_
