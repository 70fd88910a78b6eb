// SHA-256 block function on the x86 SHA extensions. Only this file's
// functions carry the instruction-set attribute, so the rest of the binary
// runs on any x86-64; the dispatcher calls in here only when cpuid says so.

#include "hashkernels.h"
#include "sha256constants.h"

#if defined(HASH_X86)

#include <immintrin.h>

#if defined(__GNUC__) || defined(__clang__)
#define HASH_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))
#else
#define HASH_TARGET_SHA
#endif

// Four rounds (group g) with the message words in `cur`. While the rounds
// run, the schedule is advanced: `next` receives its message-2 step from
// `cur` and `prev`, and `old` its message-1 step; the flags say which of the
// steps the group still needs (the last groups need none).
#define SHA256_GROUP(g, cur, prev, next, old, doMsg2, doMsg1)                              \
    do {                                                                                  \
        __m128i msg = _mm_add_epi32(                                                      \
            cur, _mm_load_si128(                                                          \
                     reinterpret_cast<const __m128i *>(sha256RoundConstants + 4 * (g)))); \
        state1 = _mm_sha256rnds2_epu32(state1, state0, msg);                              \
        if (doMsg2) {                                                                     \
            next = _mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4));                    \
            next = _mm_sha256msg2_epu32(next, cur);                                       \
        }                                                                                 \
        msg = _mm_shuffle_epi32(msg, 0x0e);                                               \
        state0 = _mm_sha256rnds2_epu32(state0, state1, msg);                              \
        if (doMsg1)                                                                       \
            old = _mm_sha256msg1_epu32(old, cur);                                         \
    } while (0)

HASH_TARGET_SHA
void sha256BlocksShaNi(std::uint32_t state[8], const unsigned char *data, std::size_t blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    // The round instruction wants the state as (A, B, E, F) and (C, D, G, H).
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
    tmp = _mm_shuffle_epi32(tmp, 0xb1);
    state1 = _mm_shuffle_epi32(state1, 0x1b);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xf0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i save0 = state0;
        const __m128i save1 = state1;

        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data)), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16)), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 32)), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 48)), byteSwap);

        SHA256_GROUP(0, m0, m3, m1, m3, false, false);
        SHA256_GROUP(1, m1, m0, m2, m0, false, true);
        SHA256_GROUP(2, m2, m1, m3, m1, false, true);
        SHA256_GROUP(3, m3, m2, m0, m2, true, true);
        SHA256_GROUP(4, m0, m3, m1, m3, true, true);
        SHA256_GROUP(5, m1, m0, m2, m0, true, true);
        SHA256_GROUP(6, m2, m1, m3, m1, true, true);
        SHA256_GROUP(7, m3, m2, m0, m2, true, true);
        SHA256_GROUP(8, m0, m3, m1, m3, true, true);
        SHA256_GROUP(9, m1, m0, m2, m0, true, true);
        SHA256_GROUP(10, m2, m1, m3, m1, true, true);
        SHA256_GROUP(11, m3, m2, m0, m2, true, true);
        SHA256_GROUP(12, m0, m3, m1, m3, true, true);
        SHA256_GROUP(13, m1, m0, m2, m0, true, false);
        SHA256_GROUP(14, m2, m1, m3, m1, true, false);
        SHA256_GROUP(15, m3, m2, m0, m2, false, false);

        state0 = _mm_add_epi32(state0, save0);
        state1 = _mm_add_epi32(state1, save1);
    }

    // Back from (A, B, E, F), (C, D, G, H) to A..H.
    tmp = _mm_shuffle_epi32(state0, 0x1b);
    state1 = _mm_shuffle_epi32(state1, 0xb1);
    state0 = _mm_blend_epi16(tmp, state1, 0xf0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), state1);
}

#endif
