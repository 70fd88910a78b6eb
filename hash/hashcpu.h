#pragma once

// Internal to the hash library (and its tests and benchmark): the block
// functions the engines call, which choose between the portable code and
// the instruction-set specific code of hashkernels.h.

#include <cstddef>
#include <cstdint>

// Each block function compresses `blocks` consecutive whole blocks (64 bytes
// for MD5, SHA-1 and SHA-256, 128 bytes for SHA-512) into `state`.
void md5Blocks(std::uint32_t state[4], const unsigned char *data, std::size_t blocks);
void sha1Blocks(std::uint32_t state[5], const unsigned char *data, std::size_t blocks);
void sha256Blocks(std::uint32_t state[8], const unsigned char *data, std::size_t blocks);
void sha512Blocks(std::uint64_t state[8], const unsigned char *data, std::size_t blocks);

// SHA-256 side by side: whether a vector kernel compresses 8 messages at
// once here, and below how many busy lanes the one-message kernel finishes
// them sooner.
bool sha256HasLanes();
int sha256LaneFewest();
// One block of each of 8 messages; state[w][lane] is word w of a lane's
// state. Only where sha256HasLanes().
void sha256Blocks8(std::uint32_t state[8][8], const unsigned char *const blocks[8]);

// Whether this CPU offers the SHA extensions (with SSSE3 and SSE4.1); asked
// of cpuid once.
bool hashCpuHasShaExtensions();
// Whether this CPU offers BMI2; asked of cpuid once.
bool hashCpuHasBmi2();
// Whether this CPU offers AVX2, BMI1 and BMI2 and the operating system saves
// the vector registers; asked once.
bool hashCpuHasAvx2();
// Whether it also offers AVX-512 F and VL and the operating system saves the
// AVX-512 state; asked once.
bool hashCpuHasAvx512();

// The instruction-set paths the block functions may take (where the CPU has
// them). All are allowed by default; the tests and the benchmark narrow the
// choice to check and time each path in one process.
enum hashFeature : unsigned
{
    hashFeatureShaExtensions = 1u,
    hashFeatureBmi2 = 2u,
    hashFeatureAvx2 = 4u,
    hashFeatureAvx512 = 8u,
    hashFeaturesAll = 15u
};
void hashAllowFeatures(unsigned features);

// With true, every digest uses the portable code until called with false.
void hashForcePortable(bool portable);

// Short names of the code the block functions use right now, for reports.
const char *hashSha1KernelName();
const char *hashSha256KernelName();
const char *hashSha512KernelName();
