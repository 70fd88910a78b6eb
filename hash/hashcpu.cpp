#include "hashcpu.h"

#include "hashkernels.h"

#include <atomic>

#if defined(HASH_X86)
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace {

std::atomic<unsigned> allowedFeatures{hashFeaturesAll};

#if defined(HASH_X86)
struct CpuFeatures
{
    bool shaExtensions = false;
    bool bmi2 = false;
    bool avx2 = false;
    bool avx512 = false;
};

// The operating system must save the vector registers before AVX code may
// run: XCR0 bits 1 and 2 for the SSE and YMM state, and bits 5 to 7 (mask
// registers and the upper halves of all 32 ZMM registers) for AVX-512, even
// for its 256-bit forms.
unsigned osSavedState()
{
#if defined(_MSC_VER)
    return static_cast<unsigned>(_xgetbv(0));
#else
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
#endif
}

CpuFeatures detectFeatures()
{
    CpuFeatures features;
    unsigned int regs1[4] = {0, 0, 0, 0};
    unsigned int regs7[4] = {0, 0, 0, 0};
#if defined(_MSC_VER)
    int r[4];
    __cpuid(r, 0);
    if (r[0] < 7)
        return features;
    __cpuid(r, 1);
    for (int i = 0; i < 4; ++i)
        regs1[i] = static_cast<unsigned int>(r[i]);
    __cpuidex(r, 7, 0);
    for (int i = 0; i < 4; ++i)
        regs7[i] = static_cast<unsigned int>(r[i]);
#else
    if (__get_cpuid_max(0, nullptr) < 7)
        return features;
    __cpuid(1, regs1[0], regs1[1], regs1[2], regs1[3]);
    __cpuid_count(7, 0, regs7[0], regs7[1], regs7[2], regs7[3]);
#endif
    const bool ssse3 = (regs1[2] >> 9) & 1;
    const bool sse41 = (regs1[2] >> 19) & 1;
    const bool sha = (regs7[1] >> 29) & 1;
    features.shaExtensions = ssse3 && sse41 && sha;
    features.bmi2 = (regs7[1] >> 8) & 1;
    const bool bmi1 = (regs7[1] >> 3) & 1;
    const bool osxsave = (regs1[2] >> 27) & 1;
    const bool avx = (regs1[2] >> 28) & 1;
    const bool avx2 = (regs7[1] >> 5) & 1;
    const bool avx512f = (regs7[1] >> 16) & 1;
    const bool avx512vl = (regs7[1] >> 31) & 1;
    // xgetbv itself faults unless the operating system has set OSXSAVE.
    const unsigned saved = osxsave ? osSavedState() : 0u;
    features.avx2 = avx && avx2 && bmi1 && features.bmi2 && (saved & 0x06u) == 0x06u;
    features.avx512 = features.avx2 && avx512f && avx512vl && (saved & 0xe6u) == 0xe6u;
    return features;
}

const CpuFeatures &cpuFeatures()
{
    static const CpuFeatures features = detectFeatures();
    return features;
}

bool useShaExtensions()
{
    return (allowedFeatures.load(std::memory_order_relaxed) & hashFeatureShaExtensions) != 0
           && cpuFeatures().shaExtensions;
}

bool useAvx2()
{
    return (allowedFeatures.load(std::memory_order_relaxed) & hashFeatureAvx2) != 0 && cpuFeatures().avx2;
}

bool useAvx512()
{
    return (allowedFeatures.load(std::memory_order_relaxed) & hashFeatureAvx512) != 0 && cpuFeatures().avx512;
}

bool useBmi2()
{
    return (allowedFeatures.load(std::memory_order_relaxed) & hashFeatureBmi2) != 0 && cpuFeatures().bmi2;
}
#endif

} // namespace

bool hashCpuHasShaExtensions()
{
#if defined(HASH_X86)
    return cpuFeatures().shaExtensions;
#else
    return false;
#endif
}

bool hashCpuHasAvx2()
{
#if defined(HASH_X86)
    return cpuFeatures().avx2;
#else
    return false;
#endif
}

bool hashCpuHasAvx512()
{
#if defined(HASH_X86)
    return cpuFeatures().avx512;
#else
    return false;
#endif
}

bool hashCpuHasBmi2()
{
#if defined(HASH_X86)
    return cpuFeatures().bmi2;
#else
    return false;
#endif
}

void hashAllowFeatures(unsigned features)
{
    allowedFeatures.store(features, std::memory_order_relaxed);
}

void hashForcePortable(bool portable)
{
    hashAllowFeatures(portable ? 0u : unsigned(hashFeaturesAll));
}

const char *hashSha1KernelName()
{
#if defined(HASH_X86)
    if (useShaExtensions())
        return "sha-ni";
#endif
    return "portable";
}

const char *hashSha256KernelName()
{
#if defined(HASH_X86)
    if (useShaExtensions())
        return "sha-ni";
    if (useBmi2())
        return "bmi2";
#endif
    return "portable";
}

const char *hashSha512KernelName()
{
#if defined(HASH_X86)
    if (useAvx512())
        return "avx512";
    if (useAvx2())
        return "avx2";
    if (useBmi2())
        return "bmi2";
#endif
    return "portable";
}

void md5Blocks(std::uint32_t state[4], const unsigned char *data, std::size_t blocks)
{
    md5BlocksPortable(state, data, blocks);
}

void sha1Blocks(std::uint32_t state[5], const unsigned char *data, std::size_t blocks)
{
#if defined(HASH_X86)
    if (useShaExtensions()) {
        sha1BlocksShaNi(state, data, blocks);
        return;
    }
#endif
    sha1BlocksPortable(state, data, blocks);
}

void sha256Blocks(std::uint32_t state[8], const unsigned char *data, std::size_t blocks)
{
#if defined(HASH_X86)
    if (useShaExtensions()) {
        sha256BlocksShaNi(state, data, blocks);
        return;
    }
    if (useBmi2()) {
        sha256BlocksBmi2(state, data, blocks);
        return;
    }
#endif
    sha256BlocksPortable(state, data, blocks);
}

void sha512Blocks(std::uint64_t state[8], const unsigned char *data, std::size_t blocks)
{
#if defined(HASH_X86)
    if (useAvx512()) {
        sha512BlocksAvx512(state, data, blocks);
        return;
    }
    if (useAvx2()) {
        sha512BlocksAvx2(state, data, blocks);
        return;
    }
    if (useBmi2()) {
        sha512BlocksBmi2(state, data, blocks);
        return;
    }
#endif
    sha512BlocksPortable(state, data, blocks);
}

bool sha256HasLanes()
{
#if defined(HASH_X86)
    return useAvx512();
#else
    return false;
#endif
}

int sha256LaneFewest()
{
#if defined(HASH_X86)
    if (useShaExtensions())
        return 4;
#endif
    return 1;
}

void sha256Blocks8(std::uint32_t state[8][8], const unsigned char *const blocks[8])
{
#if defined(HASH_X86)
    if (useAvx512()) {
        sha256Blocks8Avx512(state, blocks);
        return;
    }
#endif
    // Not reached: callers ask sha256HasLanes first. Correct all the same.
    for (int lane = 0; lane < 8; ++lane) {
        std::uint32_t one[8];
        for (int w = 0; w < 8; ++w)
            one[w] = state[w][lane];
        sha256Blocks(one, blocks[lane], 1);
        for (int w = 0; w < 8; ++w)
            state[w][lane] = one[w];
    }
}
