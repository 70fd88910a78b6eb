// The SHA-256 and SHA-512 block functions in portable code, correct on every
// CPU; the dispatcher's last choice.

#include "hashkernels.h"

#define SHA256_KERNEL_NAME sha256BlocksPortable
#define SHA512_KERNEL_NAME sha512BlocksPortable
#define SHA2_KERNEL_TARGET
#include "sha2blocks.inc"
