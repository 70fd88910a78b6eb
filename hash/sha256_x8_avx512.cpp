// SHA-256 compression of eight independent messages at once, one in each
// 32-bit lane of a 256-bit register, with the AVX-512 rotate (vprord) and
// three-input logic (vpternlogd) in their 256-bit forms. On CPUs with the SHA
// extensions the one-message kernel is bound by their throughput, not by
// its dependencies, so many small files are hashed faster side by side in
// the vector units. No 512-bit register is used, so the clock does not drop
// on CPUs that lower it for those. The dispatcher calls in here only when
// cpuid (and the operating system, for the vector state) allow it.

#include "hashkernels.h"
#include "sha256constants.h"

#if defined(HASH_X86)

#include <immintrin.h>

#if defined(__GNUC__) || defined(__clang__)
#define SHA256X8_TARGET __attribute__((target("avx2,avx512f,avx512vl")))
#else
#define SHA256X8_TARGET
#endif

SHA256X8_TARGET void sha256Blocks8Avx512(std::uint32_t state[8][8], const unsigned char *const blocks[8])
{
    // Each lane's block, as sixteen big-endian words: loaded row by row
    // (a lane's half block in each register) and turned so that register t
    // holds word t of every lane.
    const __m256i swap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7,
                                          6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    __m256i w[16];
    for (int half = 0; half < 2; ++half) {
        __m256i r[8];
        for (int lane = 0; lane < 8; ++lane)
            r[lane] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(blocks[lane] + 32 * half));
        // An 8 x 8 transpose of 32-bit words.
        const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
        const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
        const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
        const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]);
        const __m256i t5 = _mm256_unpackhi_epi32(r[4], r[5]);
        const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]);
        const __m256i t7 = _mm256_unpackhi_epi32(r[6], r[7]);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
        const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
        const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
        const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
        const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
        const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
        const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
        __m256i *out = w + 8 * half;
        out[0] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u0, u4, 0x20), swap);
        out[1] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u1, u5, 0x20), swap);
        out[2] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u2, u6, 0x20), swap);
        out[3] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u3, u7, 0x20), swap);
        out[4] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u0, u4, 0x31), swap);
        out[5] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u1, u5, 0x31), swap);
        out[6] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u2, u6, 0x31), swap);
        out[7] = _mm256_shuffle_epi8(_mm256_permute2x128_si256(u3, u7, 0x31), swap);
    }

    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[0]));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[1]));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[2]));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[3]));
    __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[4]));
    __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[5]));
    __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[6]));
    __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(state[7]));
    const __m256i a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 64
#endif
    for (int t = 0; t < 64; ++t) {
        __m256i wt;
        if (t < 16) {
            wt = w[t];
        } else {
            const __m256i w15 = w[(t - 15) & 15];
            const __m256i w2 = w[(t - 2) & 15];
            // 0x96 is the three-way exclusive or.
            const __m256i s0 = _mm256_ternarylogic_epi32(_mm256_ror_epi32(w15, 7), _mm256_ror_epi32(w15, 18),
                                                         _mm256_srli_epi32(w15, 3), 0x96);
            const __m256i s1 = _mm256_ternarylogic_epi32(_mm256_ror_epi32(w2, 17), _mm256_ror_epi32(w2, 19),
                                                         _mm256_srli_epi32(w2, 10), 0x96);
            wt = _mm256_add_epi32(_mm256_add_epi32(w[t & 15], s0), _mm256_add_epi32(w[(t - 7) & 15], s1));
            w[t & 15] = wt;
        }
        const __m256i bigS1 =
            _mm256_ternarylogic_epi32(_mm256_ror_epi32(e, 6), _mm256_ror_epi32(e, 11), _mm256_ror_epi32(e, 25), 0x96);
        // 0xca: e ? f : g.
        const __m256i ch = _mm256_ternarylogic_epi32(e, f, g, 0xca);
        const __m256i t1 = _mm256_add_epi32(
            _mm256_add_epi32(h, bigS1),
            _mm256_add_epi32(ch, _mm256_add_epi32(wt, _mm256_set1_epi32(static_cast<int>(sha256RoundConstants[t])))));
        const __m256i bigS0 =
            _mm256_ternarylogic_epi32(_mm256_ror_epi32(a, 2), _mm256_ror_epi32(a, 13), _mm256_ror_epi32(a, 22), 0x96);
        // 0xe8: the majority of a, b and c.
        const __m256i maj = _mm256_ternarylogic_epi32(a, b, c, 0xe8);
        h = g;
        g = f;
        f = e;
        e = _mm256_add_epi32(d, t1);
        d = c;
        c = b;
        b = a;
        a = _mm256_add_epi32(t1, _mm256_add_epi32(bigS0, maj));
    }

    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[0]), _mm256_add_epi32(a, a0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[1]), _mm256_add_epi32(b, b0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[2]), _mm256_add_epi32(c, c0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[3]), _mm256_add_epi32(d, d0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[4]), _mm256_add_epi32(e, e0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[5]), _mm256_add_epi32(f, f0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[6]), _mm256_add_epi32(g, g0));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(state[7]), _mm256_add_epi32(h, h0));
}

#endif
