// The SHA-256 and SHA-512 block functions built for CPUs with BMI2, whose
// three-operand rotate (rorx) saves the register copies of the plain code;
// about a tenth faster on SHA-512. The dispatcher calls in here only when
// cpuid reports BMI2.

#include "hashkernels.h"

#if defined(HASH_X86)

#if defined(__GNUC__) || defined(__clang__)
#define SHA2_KERNEL_TARGET __attribute__((target("bmi2")))
#else
#define SHA2_KERNEL_TARGET
#endif
#define SHA256_KERNEL_NAME sha256BlocksBmi2
#define SHA512_KERNEL_NAME sha512BlocksBmi2
#include "sha2blocks.inc"

#endif
