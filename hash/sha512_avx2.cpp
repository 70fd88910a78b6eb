// SHA-512 block function for CPUs with AVX2 and BMI2: the message schedule
// is computed two words at a time in vector registers, which work beside the
// scalar units, so the rounds (built with BMI2's rorx) carry a quarter fewer
// instructions. The dispatcher calls in here only when cpuid (and the
// operating system, for the vector state) allow it.

#include "hashcpu.h"

#if defined(HASH_X86)

#include "hashbytes.h"

#include <immintrin.h>

#if defined(__GNUC__) || defined(__clang__)
#define HASH_TARGET_AVX2 __attribute__((target("avx2,bmi2")))
#else
#define HASH_TARGET_AVX2
#endif

namespace {

alignas(16) const std::uint64_t k512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

} // namespace

#define SHA512V_ROR(x, n) _mm_or_si128(_mm_srli_epi64(x, n), _mm_slli_epi64(x, 64 - (n)))
#define SHA512V_s0(x) _mm_xor_si128(_mm_xor_si128(SHA512V_ROR(x, 1), SHA512V_ROR(x, 8)), _mm_srli_epi64(x, 7))
#define SHA512V_s1(x) _mm_xor_si128(_mm_xor_si128(SHA512V_ROR(x, 19), SHA512V_ROR(x, 61)), _mm_srli_epi64(x, 6))

// Words t and t + 1 of the schedule into r0, which held words t - 16 and
// t - 15; r1, r4, r5 and r7 hold the pairs from t - 14, t - 8, t - 6 and
// t - 2. Word plus round constant goes to wk for the rounds.
#define SHA512V_STEP(t, r0, r1, r4, r5, r7)                                                          \
    do {                                                                                              \
        const __m128i s0 = SHA512V_s0(_mm_alignr_epi8(r1, r0, 8));                                    \
        const __m128i s1 = SHA512V_s1(r7);                                                            \
        r0 = _mm_add_epi64(_mm_add_epi64(r0, s0), _mm_add_epi64(_mm_alignr_epi8(r5, r4, 8), s1));     \
        _mm_store_si128(reinterpret_cast<__m128i *>(wk + (t)),                                        \
                        _mm_add_epi64(r0, _mm_load_si128(reinterpret_cast<const __m128i *>(k512 + (t))))); \
    } while (0)

// Eight words in four steps; the register names rotate by four pairs, so
// the two halves alternate.
#define SHA512V_FOUR_STEPS_A(t)                   \
    SHA512V_STEP((t), x0, x1, x4, x5, x7);        \
    SHA512V_STEP((t) + 2, x1, x2, x5, x6, x0);    \
    SHA512V_STEP((t) + 4, x2, x3, x6, x7, x1);    \
    SHA512V_STEP((t) + 6, x3, x4, x7, x0, x2)
#define SHA512V_FOUR_STEPS_B(t)                   \
    SHA512V_STEP((t), x4, x5, x0, x1, x3);        \
    SHA512V_STEP((t) + 2, x5, x6, x1, x2, x4);    \
    SHA512V_STEP((t) + 4, x6, x7, x2, x3, x5);    \
    SHA512V_STEP((t) + 6, x7, x0, x3, x4, x6)

#define SHA512V_LOAD_PAIR(p, i, x)                                                                   \
    do {                                                                                             \
        x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>((p) + 16 * (i))), byteSwap); \
        _mm_store_si128(reinterpret_cast<__m128i *>(wk + 2 * (i)),                                   \
                        _mm_add_epi64(x, _mm_load_si128(reinterpret_cast<const __m128i *>(k512 + 2 * (i))))); \
    } while (0)

// The sixteen words of the block at p into x0..x7, and with their round
// constants into wk[0..15].
#define SHA512V_LOAD_BLOCK(p)          \
    do {                               \
        SHA512V_LOAD_PAIR(p, 0, x0);   \
        SHA512V_LOAD_PAIR(p, 1, x1);   \
        SHA512V_LOAD_PAIR(p, 2, x2);   \
        SHA512V_LOAD_PAIR(p, 3, x3);   \
        SHA512V_LOAD_PAIR(p, 4, x4);   \
        SHA512V_LOAD_PAIR(p, 5, x5);   \
        SHA512V_LOAD_PAIR(p, 6, x6);   \
        SHA512V_LOAD_PAIR(p, 7, x7);   \
    } while (0)

#define SHA512_S0(x) (rotr64(x, 28) ^ rotr64(x, 34) ^ rotr64(x, 39))
#define SHA512_S1(x) (rotr64(x, 14) ^ rotr64(x, 18) ^ rotr64(x, 41))
#define SHA512_CH(e, f, g) ((g) ^ ((e) & ((f) ^ (g))))
#define SHA512_MAJ(a, b, c) ((b) ^ (((a) ^ (b)) & ((b) ^ (c))))

#define SHA512_ROUND(a, b, c, d, e, f, g, h, t)                                 \
    do {                                                                        \
        const std::uint64_t t1 = h + SHA512_S1(e) + SHA512_CH(e, f, g) + wk[t]; \
        d += t1;                                                                \
        h = t1 + SHA512_S0(a) + SHA512_MAJ(a, b, c);                            \
    } while (0)

#define SHA512_EIGHT_ROUNDS(t)                          \
    SHA512_ROUND(a, b, c, d, e, f, g, h, (t));          \
    SHA512_ROUND(h, a, b, c, d, e, f, g, (t) + 1);      \
    SHA512_ROUND(g, h, a, b, c, d, e, f, (t) + 2);      \
    SHA512_ROUND(f, g, h, a, b, c, d, e, (t) + 3);      \
    SHA512_ROUND(e, f, g, h, a, b, c, d, (t) + 4);      \
    SHA512_ROUND(d, e, f, g, h, a, b, c, (t) + 5);      \
    SHA512_ROUND(c, d, e, f, g, h, a, b, (t) + 6);      \
    SHA512_ROUND(b, c, d, e, f, g, h, a, (t) + 7)

HASH_TARGET_AVX2
void sha512BlocksAvx2(std::uint64_t state[8], const unsigned char *data, std::size_t blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x08090a0b0c0d0e0fULL, 0x0001020304050607ULL);
    alignas(16) std::uint64_t wk[80];

    for (; blocks > 0; --blocks, data += 128) {
        __m128i x0, x1, x2, x3, x4, x5, x6, x7;
        SHA512V_LOAD_BLOCK(data);

        // Each group of eight rounds is paired with the schedule of the words
        // sixteen rounds ahead, so that the vector and the scalar work
        // overlap instead of following each other.
        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
        SHA512V_FOUR_STEPS_A(16);
        SHA512_EIGHT_ROUNDS(0);
        SHA512V_FOUR_STEPS_B(24);
        SHA512_EIGHT_ROUNDS(8);
        SHA512V_FOUR_STEPS_A(32);
        SHA512_EIGHT_ROUNDS(16);
        SHA512V_FOUR_STEPS_B(40);
        SHA512_EIGHT_ROUNDS(24);
        SHA512V_FOUR_STEPS_A(48);
        SHA512_EIGHT_ROUNDS(32);
        SHA512V_FOUR_STEPS_B(56);
        SHA512_EIGHT_ROUNDS(40);
        SHA512V_FOUR_STEPS_A(64);
        SHA512_EIGHT_ROUNDS(48);
        SHA512V_FOUR_STEPS_B(72);
        SHA512_EIGHT_ROUNDS(56);
        SHA512_EIGHT_ROUNDS(64);
        SHA512_EIGHT_ROUNDS(72);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#endif
