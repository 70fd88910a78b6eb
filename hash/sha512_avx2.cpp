// SHA-512 block function for CPUs with AVX2 and BMI2: the two-block schedule
// of sha512x2.inc, each rotate of the small sigmas built from two shifts and
// an or. The dispatcher calls in here only when cpuid (and the operating
// system, for the vector state) allow it.

#include "hashkernels.h"

#if defined(HASH_X86)

#if defined(__GNUC__) || defined(__clang__)
#define SHA512X2_TARGET __attribute__((target("avx2,bmi,bmi2")))
#else
#define SHA512X2_TARGET
#endif
#define SHA512X2_NAME sha512BlocksAvx2
#define SHA512X2_ROR(x, n) _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - (n)))
#define SHA512X2_s0(x) \
    _mm256_xor_si256(_mm256_xor_si256(SHA512X2_ROR(x, 1), SHA512X2_ROR(x, 8)), _mm256_srli_epi64(x, 7))
#define SHA512X2_s1(x) \
    _mm256_xor_si256(_mm256_xor_si256(SHA512X2_ROR(x, 19), SHA512X2_ROR(x, 61)), _mm256_srli_epi64(x, 6))
#include "sha512x2.inc"

#endif
