// Throughput of the hash layer, in MB/s (10^6 bytes per second).
//
//   bench_hash memory [--size MiB] [--repeat N]
//       every algorithm and every kernel on a buffer in memory
//   bench_hash file PATH [--algorithm NAME] [--repeat N] [--portable]
//                   [--piece KiB] [--device]
//       digestOfFile on PATH (best of N), one line per algorithm; --piece
//       reads what is in memory in pieces of that size, --device reads all
//       of it as if it had to come from the device
//   bench_hash copy [--size MiB] [--repeat N]
//       memcpy between two buffers of that size: the memory's bandwidth
//
// Each figure is the best of N runs: the machine is shared and the best run
// is the one least disturbed by others.

#include "hashcpu.h"
#include "hashfactory.h"
#include "filereader.h"
#include "hashwrapper.h"
#include "hlexception.h"

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

const char *const algorithms[] = {"md5", "sha1", "sha256", "sha384", "sha512"};

// Processor time of this process rather than wall time: on a shared
// machine other processes stretch the wall time, hardly the processor time.
double seconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

template <class Run>
double bestSeconds(int repeat, Run run)
{
    double best = 1e30;
    for (int i = 0; i < repeat; ++i) {
        const double start = seconds();
        run();
        const double taken = seconds() - start;
        if (taken < best)
            best = taken;
    }
    return best;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: bench_hash memory [--size MiB] [--repeat N]\n"
                 "       bench_hash file PATH [--algorithm NAME] [--repeat N] [--portable]\n"
                 "                       [--piece KiB] [--device]\n"
                 "       bench_hash copy [--size MiB] [--repeat N]\n");
    return 2;
}

int benchMemory(std::size_t mib, int repeat)
{
    const std::size_t size = mib << 20;
    std::string data(size, '\0');
    unsigned int x = 2463534242u;
    for (char &c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }

    struct Kernel
    {
        const char *name;
        unsigned features;
        bool available;
    };
    const Kernel kernels[] = {{"portable", 0u, true},
                              {"bmi2", hashFeatureBmi2, hashCpuHasBmi2()},
                              {"avx2", hashFeatureAvx2, hashCpuHasAvx2()},
                              {"avx512", hashFeatureAvx512, hashCpuHasAvx512()},
                              {"sha-ni", hashFeatureShaExtensions, hashCpuHasShaExtensions()}};

    hashfactory factory;
    for (const char *name : algorithms) {
        const std::string alg(name);
        std::unique_ptr<hashwrapper> wrapper(factory.makeWrapper(name));
        for (const Kernel &kernel : kernels) {
            const std::string kernelName(kernel.name);
            const bool exists = kernelName == "portable"
                                || (kernelName == "bmi2" && alg != "md5" && alg != "sha1")
                                || ((kernelName == "avx2" || kernelName == "avx512")
                                    && (alg == "sha384" || alg == "sha512"))
                                || (kernelName == "sha-ni" && (alg == "sha1" || alg == "sha256"));
            if (!exists || !kernel.available)
                continue;
            hashAllowFeatures(kernel.features);
            // Fed in 1 MiB pieces straight from the buffer, as digestOfFile
            // feeds its reads; digestOfString would first copy the buffer.
            const double t = bestSeconds(repeat, [&] {
                wrapper->startDigest();
                const auto *p = reinterpret_cast<const unsigned char *>(data.data());
                for (std::size_t off = 0; off < size; off += std::size_t(1) << 20)
                    wrapper->addData(p + off, 1u << 20);
                wrapper->finishDigest();
            });
            std::printf("memory %-7s %-9s %9.1f MB/s\n", name, kernel.name, size / t / 1e6);
        }
    }

    // Small files as a scan's batch hands them over: 32 messages of 0 to
    // 1 KiB at a time, side by side where the CPU allows, or one at a time.
    std::vector<const unsigned char *> messages;
    std::vector<std::size_t> lengths;
    std::size_t smallBytes = 0;
    for (std::size_t at = 0; at + 1024 <= size; at += 1024) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        messages.push_back(reinterpret_cast<const unsigned char *>(data.data()) + at);
        lengths.push_back(x % 1025);
        smallBytes += lengths.back();
    }
    std::vector<std::string> digests(messages.size());
    std::vector<std::string *> into;
    for (std::string &digest : digests)
        into.push_back(&digest);
    std::unique_ptr<hashwrapper> sha256(factory.makeWrapper("sha256"));
    const Kernel smallKernels[] = {{"side by side", hashFeaturesAll, hashCpuHasAvx512()},
                                   {"sha-ni", hashFeatureShaExtensions, hashCpuHasShaExtensions()},
                                   {"portable", 0u, true}};
    for (const Kernel &kernel : smallKernels) {
        if (!kernel.available)
            continue;
        hashAllowFeatures(kernel.features);
        const double t = bestSeconds(repeat, [&] {
            for (std::size_t first = 0; first < messages.size(); first += 32)
                sha256->digestsInto(messages.data() + first, lengths.data() + first,
                                    std::min<std::size_t>(32, messages.size() - first), into.data() + first);
        });
        std::printf("small  sha256  %-12s %9.1f MB/s  %9.0f files/s\n", kernel.name, smallBytes / t / 1e6,
                    messages.size() / t);
    }
    hashAllowFeatures(hashFeaturesAll);
    return 0;
}

// Bytes read plus bytes written per second, as memory bandwidth is usually
// given; the buffers are far larger than the caches.
int benchCopy(std::size_t mib, int repeat)
{
    const std::size_t size = mib << 20;
    std::vector<char> from(size, 1);
    std::vector<char> to(size, 2);
    const double t = bestSeconds(repeat, [&] {
        std::memcpy(to.data(), from.data(), size);
        from[size / 2] = to[size / 3];
    });
    std::printf("copy %zu MiB: %.1f GB/s (read and written)\n", mib, 2.0 * size / t / 1e9);
    return 0;
}

int benchFile(const std::string &path, const std::string &only, int repeat, bool portable,
              std::size_t pieceKiB, bool device)
{
    hashForcePortable(portable);
    if (pieceKiB > 0)
        filereader::setMemoryPieceSize(pieceKiB * 1024);
    if (device)
        filereader::pretendMissFrom(0);
    hashfactory factory;
    for (const char *name : algorithms) {
        if (!only.empty() && only != name)
            continue;
        const std::string alg(name);
        std::unique_ptr<hashwrapper> wrapper(factory.makeWrapper(name));
        std::string digest;
        long long bytes = 0;
        try {
            std::error_code error;
            bytes = static_cast<long long>(std::filesystem::file_size(path, error));
            if (error)
                throw hlException(1, "Cannot read file \"" + path + "\".");
            const double t = bestSeconds(repeat, [&] { digest = wrapper->digestOfFile(path); });
            const char *kernel = portable          ? "portable"
                                 : alg == "sha1"   ? hashSha1KernelName()
                                 : alg == "sha256" ? hashSha256KernelName()
                                 : alg == "md5"    ? "portable"
                                                   : hashSha512KernelName();
            std::printf("file %-7s %-9s %9.1f MB/s  %s\n", name, kernel,
                        bytes / t / 1e6, digest.c_str());
        } catch (const hlException &e) {
            std::fprintf(stderr, "%s\n", e.messageText().c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const std::string mode = argv[1];
    std::string path;
    std::string only;
    int repeat = 5;
    std::size_t mib = 256;
    bool portable = false;
    std::size_t pieceKiB = 0;
    bool device = false;

    int i = 2;
    if (mode == "file") {
        if (argc < 3)
            return usage();
        path = argv[2];
        i = 3;
    } else if (mode != "memory" && mode != "copy") {
        return usage();
    }
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else if (arg == "--size" && i + 1 < argc)
            mib = static_cast<std::size_t>(std::atoi(argv[++i]));
        else if (arg == "--algorithm" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--portable")
            portable = true;
        else if (arg == "--piece" && i + 1 < argc)
            pieceKiB = static_cast<std::size_t>(std::atoi(argv[++i]));
        else if (arg == "--device")
            device = true;
        else
            return usage();
    }
    if (repeat < 1 || mib < 1)
        return usage();

    if (mode == "copy")
        return benchCopy(mib, repeat);
    return mode == "file" ? benchFile(path, only, repeat, portable, pieceKiB, device)
                          : benchMemory(mib, repeat);
}
