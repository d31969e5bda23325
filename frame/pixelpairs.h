#pragma once
#ifdef __SSE2__
#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <utility>

// Eight pairs of neighbouring 8-bit pixels, row[offset[k]] and the one after
// it, as the eight 16-bit lanes of a register (first pixel in the low byte):
// the gather of a bilinear sample, eight at a time. Put into the register
// lane by lane; through memory the vector load would stall on the stores.
namespace pixelpairs {

inline int at(const unsigned char* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return int(v);
}

template <int... K>
__m128i gather(const unsigned char* row, const int* offset, std::integer_sequence<int, K...>)
{
    __m128i v = _mm_setzero_si128();
    ((v = _mm_insert_epi16(v, at(row + offset[K]), K)), ...);
    return v;
}

inline __m128i eight(const unsigned char* row, const int* offset)
{
    return gather(row, offset, std::make_integer_sequence<int, 8>());
}

} // namespace pixelpairs
#endif
