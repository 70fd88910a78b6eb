#pragma once

// The block functions behind the dispatch in hashcpu.cpp, each in a file of
// its own: the portable code, and one file for each instruction set, whose
// functions alone carry its attribute. Only the dispatch calls them, so the
// engines never reach a kernel without asking the CPU first.

#include <cstddef>
#include <cstdint>

// The portable versions, correct on every CPU.
void md5BlocksPortable(std::uint32_t state[4], const unsigned char *data, std::size_t blocks);
void sha1BlocksPortable(std::uint32_t state[5], const unsigned char *data, std::size_t blocks);
void sha256BlocksPortable(std::uint32_t state[8], const unsigned char *data, std::size_t blocks);
void sha512BlocksPortable(std::uint64_t state[8], const unsigned char *data, std::size_t blocks);

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define HASH_X86 1
// x86 SHA extensions; only to be called when hashCpuHasShaExtensions().
void sha1BlocksShaNi(std::uint32_t state[5], const unsigned char *data, std::size_t blocks);
void sha256BlocksShaNi(std::uint32_t state[8], const unsigned char *data, std::size_t blocks);
// The portable code built for BMI2; only to be called when hashCpuHasBmi2().
void sha256BlocksBmi2(std::uint32_t state[8], const unsigned char *data, std::size_t blocks);
void sha512BlocksBmi2(std::uint64_t state[8], const unsigned char *data, std::size_t blocks);
// Vector message schedule, two blocks at a time; only to be called when
// hashCpuHasAvx2(), or hashCpuHasAvx512() for the second.
void sha512BlocksAvx2(std::uint64_t state[8], const unsigned char *data, std::size_t blocks);
void sha512BlocksAvx512(std::uint64_t state[8], const unsigned char *data, std::size_t blocks);
// One block of each of 8 messages side by side; only to be called when
// hashCpuHasAvx512().
void sha256Blocks8Avx512(std::uint32_t state[8][8], const unsigned char *const blocks[8]);
#endif
