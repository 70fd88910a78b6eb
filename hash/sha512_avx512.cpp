// SHA-512 block function for CPUs with AVX-512 (F and VL) and BMI2: the
// two-block schedule of sha512x2.inc with the 256-bit forms of the AVX-512
// rotate (vprolq/vprorq) and three-input logic (vpternlogq), which make each
// small sigma four instructions instead of nine. No 512-bit register is
// used, so the clock does not drop on CPUs that lower it for those. The
// dispatcher calls in here only when cpuid (and the operating system, for
// the vector state) allow it.

#include "hashkernels.h"

#if defined(HASH_X86)

#if defined(__GNUC__) || defined(__clang__)
#define SHA512X2_TARGET __attribute__((target("avx2,avx512f,avx512vl,bmi,bmi2")))
#else
#define SHA512X2_TARGET
#endif
#define SHA512X2_NAME sha512BlocksAvx512
// 0x96 is the three-way exclusive or.
#define SHA512X2_s0(x) \
    _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, 1), _mm256_ror_epi64(x, 8), _mm256_srli_epi64(x, 7), 0x96)
#define SHA512X2_s1(x) \
    _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, 19), _mm256_ror_epi64(x, 61), _mm256_srli_epi64(x, 6), 0x96)
#include "sha512x2.inc"

#endif
