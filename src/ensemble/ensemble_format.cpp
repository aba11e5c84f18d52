#include "ensemble/ensemble_format.h"

#include <array>
#include <cstring>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HYD_AVX2_SUMS 1
#endif

namespace hyd {

namespace {
constexpr std::array<profile_layout, 16> layouts{{
    {velocity_id, 4, 2, true},
    {correlation_id, 4, 1, false},
    {echo_intensity_id, 4, 1, false},
    {percent_good_id, 4, 1, false},
    {status_id, 4, 1, false},
    {b5_velocity_id, 1, 2, true},
    {b5_correlation_id, 1, 1, false},
    {b5_echo_intensity_id, 1, 1, false},
    {b5_percent_good_id, 1, 1, false},
    {b5_status_id, 1, 1, false},
    {good_pings_id, 4, 1, false},
    {sum_squared_velocity_id, 4, 4, true},
    {sum_velocity_id, 4, 4, true},
    {b5_good_pings_id, 1, 1, false},
    {b5_sum_squared_velocity_id, 1, 4, true},
    {b5_sum_velocity_id, 1, 4, true},
}};
} // namespace

std::span<const profile_layout> profile_layouts() {
    return layouts;
}

const profile_layout* find_profile_layout(std::uint16_t id) {
    for (const auto& l : layouts)
        if (l.id == id) return &l;
    return nullptr;
}

namespace {

// Sums (and with Copy, copies) n bytes. The 16-bit result only needs the sum modulo 65,536, so
// wider partial sums in any order give the same answer.
template <bool Copy>
std::uint16_t sum_bytes(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
    std::uint64_t sum = 0;
    std::size_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    // Sixteen bytes at a time: the sum of absolute differences from zero adds eight bytes into
    // each 64-bit half.
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero, b = zero;
    const auto load = [&](std::size_t at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at));
    };
    const auto store = [&](std::size_t at, __m128i x) {
        if constexpr (Copy) _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), x);
    };
    for (; i + 64 <= n; i += 64) {
        const __m128i w = load(i), x = load(i + 16), y = load(i + 32), z = load(i + 48);
        store(i, w);
        store(i + 16, x);
        store(i + 32, y);
        store(i + 48, z);
        a = _mm_add_epi64(a, _mm_add_epi64(_mm_sad_epu8(w, zero), _mm_sad_epu8(x, zero)));
        b = _mm_add_epi64(b, _mm_add_epi64(_mm_sad_epu8(y, zero), _mm_sad_epu8(z, zero)));
    }
    for (; i + 16 <= n; i += 16) {
        const __m128i x = load(i);
        store(i, x);
        a = _mm_add_epi64(a, _mm_sad_epu8(x, zero));
    }
    if (i + 8 <= n) {
        const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + i));
        if constexpr (Copy) _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i), x);
        b = _mm_add_epi64(b, _mm_sad_epu8(x, zero));
        i += 8;
    }
    a = _mm_add_epi64(a, b);
    sum = static_cast<std::uint64_t>(_mm_cvtsi128_si64(a)) +
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(a, a)));
#endif
    if constexpr (Copy) {
        if (i < n) std::memcpy(to + i, from + i, n - i);
    }
    for (; i < n; ++i) sum += from[i];
    return static_cast<std::uint16_t>(sum);
}

#ifdef HYD_AVX2_SUMS
// Thirty-two bytes at a time where the processor has AVX2 (asked once, at run time). The last
// partial block is the last 32 bytes, its bytes already counted masked out (and copied again);
// fewer than 32 bytes in all go to the sixteen-byte loop.
template <bool Copy>
__attribute__((target("avx2"))) std::uint16_t
sum_bytes_avx2(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
    if (n < 32) return sum_bytes<Copy>(to, from, n);
    const __m256i zero = _mm256_setzero_si256();
    __m256i a = zero, b = zero;
    std::size_t i = 0;
    for (; i + 128 <= n; i += 128) {
        const auto* in = reinterpret_cast<const __m256i*>(from + i);
        const __m256i w = _mm256_loadu_si256(in), x = _mm256_loadu_si256(in + 1),
                      y = _mm256_loadu_si256(in + 2), z = _mm256_loadu_si256(in + 3);
        if constexpr (Copy) {
            auto* out = reinterpret_cast<__m256i*>(to + i);
            _mm256_storeu_si256(out, w);
            _mm256_storeu_si256(out + 1, x);
            _mm256_storeu_si256(out + 2, y);
            _mm256_storeu_si256(out + 3, z);
        }
        a = _mm256_add_epi64(a,
                             _mm256_add_epi64(_mm256_sad_epu8(w, zero), _mm256_sad_epu8(x, zero)));
        b = _mm256_add_epi64(b,
                             _mm256_add_epi64(_mm256_sad_epu8(y, zero), _mm256_sad_epu8(z, zero)));
    }
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        if constexpr (Copy) _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), x);
        a = _mm256_add_epi64(a, _mm256_sad_epu8(x, zero));
    }
    if (i < n) {
        static constexpr auto zeros_then_ones = [] {
            std::array<std::uint8_t, 64> bytes{};
            for (std::size_t k = 32; k < 64; ++k) bytes[k] = 0xFF;
            return bytes;
        }();
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + n - 32));
        if constexpr (Copy) _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + n - 32), x);
        const __m256i fresh =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(zeros_then_ones.data() + (n - i)));
        b = _mm256_add_epi64(b, _mm256_sad_epu8(_mm256_and_si256(x, fresh), zero));
    }
    a = _mm256_add_epi64(a, b);
    const std::uint64_t sum = static_cast<std::uint64_t>(_mm256_extract_epi64(a, 0)) +
                              static_cast<std::uint64_t>(_mm256_extract_epi64(a, 1)) +
                              static_cast<std::uint64_t>(_mm256_extract_epi64(a, 2)) +
                              static_cast<std::uint64_t>(_mm256_extract_epi64(a, 3));
    return static_cast<std::uint16_t>(sum);
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

template <bool Copy>
std::uint16_t sum_fastest(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
#ifdef HYD_AVX2_SUMS
    if (has_avx2()) return sum_bytes_avx2<Copy>(to, from, n);
#endif
    return sum_bytes<Copy>(to, from, n);
}

} // namespace

std::uint16_t ensemble_checksum(std::span<const std::uint8_t> bytes) {
    return sum_fastest<false>(nullptr, bytes.data(), bytes.size());
}

std::uint16_t copy_with_checksum(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
    return sum_fastest<true>(to, from, n);
}

bool in_serial_family(int version) {
    const int family = version / 100;
    return (family == 8 && version >= 813) || (family == 9 && version >= 913);
}

} // namespace hyd
