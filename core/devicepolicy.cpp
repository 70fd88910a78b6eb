#include "devicepolicy.h"

#include "treelisting.h"

#include <algorithm>
#include <fstream>
#include <thread>

#if defined(ORVALEN_POSIX)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif

namespace {

// Descriptors left to the rest of the process while it scans: the listing's
// directories and the checksums file a verification reads alongside.
constexpr int descriptorsOutsideTheScan = TreeListing::heldDirectories + 4;

#if defined(ORVALEN_POSIX)
// The descriptors the process holds. The system hands out the lowest free
// number, so a process that holds few holds low ones: looking up to a bound
// is enough, and cheap.
long long openDescriptors(rlim_t limit)
{
    const int bound = static_cast<int>(std::min<rlim_t>(limit, 4096));
    long long open = 0;
    for (int fd = 0; fd < bound; ++fd)
        if (::fcntl(fd, F_GETFD) != -1)
            ++open;
    return open;
}
#endif

#if defined(__linux__)
// The address space the process has mapped, as the kernel counts it against
// its limit; -1 where unknown.
long long mappedBytes()
{
    std::ifstream in("/proc/self/statm");
    long long pages = 0;
    if (!(in >> pages))
        return -1;
    return pages * ::sysconf(_SC_PAGESIZE);
}
#endif

#if defined(__linux__)
bool readFlag(const std::string &path, bool &flag)
{
    std::ifstream in(path);
    int value = 0;
    if (!(in >> value))
        return false;
    flag = value != 0;
    return true;
}
#endif

} // namespace

bool DevicePolicy::isRotational(const std::string &path)
{
#if defined(__linux__)
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return false;
    const std::string device = "/sys/dev/block/" + std::to_string(major(info.st_dev)) + ':'
                               + std::to_string(minor(info.st_dev));
    bool rotational = false;
    if (readFlag(device + "/queue/rotational", rotational)
        || readFlag(device + "/../queue/rotational", rotational))
        return rotational;
#else
    (void)path;
#endif
    return false;
}

DevicePolicy::Settings DevicePolicy::settingsFor(const std::string &sourcePath, int jobs)
{
    Settings settings;
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    settings.hashers = std::min(jobs > 0 ? jobs : cores + 1, maxHashers);
    // Many small reads in flight keep a solid-state or network disk busy,
    // and let a disk with moving heads order them; opening costs no core.
    settings.openers = std::min(std::max(16, 2 * settings.hashers), maxHashers);
    settings.oneLargeFileAtATime = isRotational(sourcePath);
#if defined(ORVALEN_POSIX)
    // Each hasher holds its file's descriptor, and every file opened ahead
    // one more; what the process holds already, and what the listing and a
    // verification's reader need beside the scan, are not the scan's. Where
    // that leaves few, fewer hashers share them with the files opened ahead.
    rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const long long free = static_cast<long long>(files.rlim_cur) - openDescriptors(files.rlim_cur);
        const long long outside = std::min<long long>(descriptorsOutsideTheScan, free / 2);
        const long long budget = std::max<long long>(free - outside, 2);
        settings.hashers = static_cast<int>(std::min<long long>(settings.hashers, budget / 2));
        settings.openAhead = static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(settings.openAhead), budget - settings.hashers));
        settings.openers = static_cast<int>(
            std::min<long long>(settings.openers, static_cast<long long>(settings.openAhead)));
    }
#endif
#if defined(__linux__)
    // A limit on the address space (ulimit -v) is used up by threads long
    // before memory: each maps its stack, and glibc gives each of the first
    // threads a malloc arena of its own that reserves 64 MiB. The workers
    // and the listing's thread take at most half of what is left, so that
    // the paths listed, the index of a checksums file and the results in
    // the window still fit; where not one hasher fits beside the listing,
    // no worker is wanted and the files are hashed on the calling thread.
    rlimit space;
    const long long mapped = mappedBytes();
    if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY && mapped >= 0) {
        rlimit stack;
        long long stackBytes = 8LL << 20;
        if (::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY)
            stackBytes = static_cast<long long>(stack.rlim_cur);
        const long long perThread = stackBytes + (64LL << 20);
        const long long spare = (static_cast<long long>(space.rlim_cur) - mapped) / 2;
        const long long threads = std::max<long long>(spare / perThread - 1, 0);
        settings.hashers = static_cast<int>(std::min<long long>(settings.hashers, threads));
        settings.openers = static_cast<int>(std::min<long long>(settings.openers, threads - settings.hashers));
    }
#endif
    if (jobs <= 0)
        settings.lateHashers = std::max(0, settings.hashers - cores);
    return settings;
}
