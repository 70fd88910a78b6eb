// SHA-1 block function on the x86 SHA extensions. Only this file's functions
// carry the instruction-set attribute, so the rest of the binary runs on any
// x86-64; the dispatcher calls in here only when cpuid says so.

#include "hashkernels.h"

#if defined(HASH_X86)

#include <immintrin.h>

#if defined(__GNUC__) || defined(__clang__)
#define HASH_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))
#else
#define HASH_TARGET_SHA
#endif

// Four rounds (group g, function g / 5) with the message words in `cur`.
// `eCur` carries E into these rounds, `eNext` takes A for the next group's E.
// The schedule advances alongside: `next` gets its message-2 step, `older`
// its xor with `cur`, `oldest` its message-1 step, each only while a later
// group still needs it.
#define SHA1_GROUP(g, cur, next, older, oldest, eCur, eNext, doMsg2, doXor, doMsg1) \
    do {                                                                           \
        if ((g) == 0)                                                              \
            eCur = _mm_add_epi32(eCur, cur);                                       \
        else                                                                       \
            eCur = _mm_sha1nexte_epu32(eCur, cur);                                 \
        eNext = abcd;                                                              \
        if (doMsg2)                                                                \
            next = _mm_sha1msg2_epu32(next, cur);                                  \
        abcd = _mm_sha1rnds4_epu32(abcd, eCur, (g) / 5);                           \
        if (doMsg1)                                                                \
            oldest = _mm_sha1msg1_epu32(oldest, cur);                              \
        if (doXor)                                                                 \
            older = _mm_xor_si128(older, cur);                                     \
    } while (0)

HASH_TARGET_SHA
void sha1BlocksShaNi(std::uint32_t state[5], const unsigned char *data, std::size_t blocks)
{
    const __m128i wordSwap = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);

    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1b);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    __m128i e1 = _mm_setzero_si128();

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSave = abcd;
        const __m128i eSave = e0;

        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data)), wordSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16)), wordSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 32)), wordSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 48)), wordSwap);

        // Group g works on m[g % 4]; next is m[(g + 1) % 4], older
        // m[(g + 2) % 4], oldest m[(g + 3) % 4].
        SHA1_GROUP(0, m0, m1, m2, m3, e0, e1, false, false, false);
        SHA1_GROUP(1, m1, m2, m3, m0, e1, e0, false, false, true);
        SHA1_GROUP(2, m2, m3, m0, m1, e0, e1, false, true, true);
        SHA1_GROUP(3, m3, m0, m1, m2, e1, e0, true, true, true);
        SHA1_GROUP(4, m0, m1, m2, m3, e0, e1, true, true, true);
        SHA1_GROUP(5, m1, m2, m3, m0, e1, e0, true, true, true);
        SHA1_GROUP(6, m2, m3, m0, m1, e0, e1, true, true, true);
        SHA1_GROUP(7, m3, m0, m1, m2, e1, e0, true, true, true);
        SHA1_GROUP(8, m0, m1, m2, m3, e0, e1, true, true, true);
        SHA1_GROUP(9, m1, m2, m3, m0, e1, e0, true, true, true);
        SHA1_GROUP(10, m2, m3, m0, m1, e0, e1, true, true, true);
        SHA1_GROUP(11, m3, m0, m1, m2, e1, e0, true, true, true);
        SHA1_GROUP(12, m0, m1, m2, m3, e0, e1, true, true, true);
        SHA1_GROUP(13, m1, m2, m3, m0, e1, e0, true, true, true);
        SHA1_GROUP(14, m2, m3, m0, m1, e0, e1, true, true, true);
        SHA1_GROUP(15, m3, m0, m1, m2, e1, e0, true, true, true);
        SHA1_GROUP(16, m0, m1, m2, m3, e0, e1, true, true, true);
        SHA1_GROUP(17, m1, m2, m3, m0, e1, e0, true, true, false);
        SHA1_GROUP(18, m2, m3, m0, m1, e0, e1, true, false, false);
        SHA1_GROUP(19, m3, m0, m1, m2, e1, e0, false, false, false);

        e0 = _mm_sha1nexte_epu32(e0, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }

    abcd = _mm_shuffle_epi32(abcd, 0x1b);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), abcd);
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

#endif
