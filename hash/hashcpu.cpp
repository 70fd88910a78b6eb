#include "hashcpu.h"

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
};

// The operating system must save the vector registers (XCR0 bits 1 and 2)
// before AVX code may run.
bool osSavesYmm()
{
#if defined(_MSC_VER)
    return (_xgetbv(0) & 6) == 6;
#else
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6) == 6;
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
    const bool osxsave = (regs1[2] >> 27) & 1;
    const bool avx = (regs1[2] >> 28) & 1;
    const bool avx2 = (regs7[1] >> 5) & 1;
    features.avx2 = osxsave && avx && avx2 && features.bmi2 && osSavesYmm();
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
