// Little-endian encoding of the numbers in the library's byte images (caches,
// controller memory), independent of the compiler's struct layout.
#ifndef KORVEX_CODING_H_
#define KORVEX_CODING_H_

#include <cstdint>
#include <cstring>

namespace korvex {

inline void EncodeFixed16(unsigned char* out, std::uint16_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
}

inline void EncodeFixed32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline void EncodeFixed64(unsigned char* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint16_t DecodeFixed16(const unsigned char* in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

inline std::uint32_t DecodeFixed32(const unsigned char* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

inline std::uint64_t DecodeFixed64(const unsigned char* in) {
    return static_cast<std::uint64_t>(DecodeFixed32(in)) |
           (static_cast<std::uint64_t>(DecodeFixed32(in + 4)) << 32);
}

// A controller word of 1, 2 or 4 bytes: little endian, or big endian where
// the controller keeps it swapped.
inline std::uint32_t DecodeWord(const unsigned char* in, unsigned length, bool swapped) {
    std::uint32_t word = 0;
    for (unsigned i = 0; i < length; ++i)
        word |= static_cast<std::uint32_t>(in[i]) << (8 * (swapped ? length - 1 - i : i));
    return word;
}

inline void EncodeWord(unsigned char* out, std::uint32_t word, unsigned length, bool swapped) {
    for (unsigned i = 0; i < length; ++i)
        out[i] = static_cast<unsigned char>(word >> (8 * (swapped ? length - 1 - i : i)));
}

inline void EncodeDouble(unsigned char* out, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    EncodeFixed64(out, bits);
}

inline double DecodeDouble(const unsigned char* in) {
    const std::uint64_t bits = DecodeFixed64(in);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace korvex

#endif  // KORVEX_CODING_H_
