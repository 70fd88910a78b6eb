#include "scanpipeline.h"

#include "hashwrapper.h"
#include "hlexception.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <utility>

#if defined(__unix__) || defined(__APPLE__)
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

// Files at least this large count as large: on a disk with moving heads two
// of them read at once would make it seek back and forth between them.
constexpr long long largeFileSize = 8LL * 1024 * 1024;
// How much of a file the opener asks the kernel to read at once; the rest
// of a larger file follows through the kernel's own read-ahead.
constexpr long long prefetchSize = 2LL * 1024 * 1024;
constexpr auto askInterval = std::chrono::milliseconds(100);
// An open that takes longer than this had to read from the disk.
constexpr auto slowOpen = std::chrono::microseconds(200);

void closeFile(int fd)
{
#if defined(__unix__) || defined(__APPLE__)
    if (fd >= 0)
        ::close(fd);
#else
    (void)fd;
#endif
}

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

// Whether the tree lies on a disk that the system calls rotational; for a
// partition the flag is its disk's. Unknown devices (network and union file
// systems, device mapper without the flag) count as not rotational.
bool isRotational(const std::string &path)
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

} // namespace

struct ScanPipeline::Slot
{
    enum State { Waiting, Opened, Hashing, Done };
    State state = Waiting;
    int fd = -1;
    long long size = 0;
    Result result;
};

ScanPipeline::ScanPipeline(std::size_t count, std::function<std::string(std::size_t)> nativePath,
                           const std::function<hashwrapper *()> &makeHasher, const Settings &settings)
    : count(count), nativePath(std::move(nativePath)), settings(settings),
      ring(std::max<std::size_t>(settings.window, 1)),
      cores(std::max(1, static_cast<int>(std::thread::hardware_concurrency())))
{
    for (int i = 0; i < settings.hashers; ++i)
        hashers.emplace_back(makeHasher());
    try {
        for (const std::unique_ptr<hashwrapper> &hasher : hashers)
            threads.emplace_back(&ScanPipeline::hashLoop, this, hasher.get());
        for (int i = 0; i < settings.openers; ++i)
            threads.emplace_back(&ScanPipeline::openLoop, this);
    } catch (...) {
        stop();
        throw;
    }
}

ScanPipeline::~ScanPipeline()
{
    stop();
}

ScanPipeline::Slot &ScanPipeline::slot(std::size_t index)
{
    return ring[index % ring.size()];
}

void ScanPipeline::stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    roomToOpen.notify_all();
    openedInOrder.notify_all();
    largeFileFree.notify_all();
    hashed.notify_all();
    for (std::thread &thread : threads)
        thread.join();
    threads.clear();
    for (Slot &waiting : ring) {
        closeFile(waiting.fd);
        waiting.fd = -1;
    }
}

void ScanPipeline::openLoop()
{
    for (;;) {
        std::size_t index;
        {
            std::unique_lock<std::mutex> guard(lock);
            ++openersAsleep;
            roomToOpen.wait(guard, [&] {
                return stopping || nextToOpen >= count || nextToOpen < nextToTake + ring.size();
            });
            --openersAsleep;
            if (stopping || nextToOpen >= count)
                return;
            index = nextToOpen++;
        }

        int fd = -1;
        long long size = 0;
        Result failed;
        const auto started = std::chrono::steady_clock::now();
        try {
#if defined(__unix__) || defined(__APPLE__)
            const std::string path = nativePath(index);
            fd = hashwrapper::openRegularFile(path, &size);
            if (fd < 0) {
                failed.error = hashwrapper::cannotReadMessage(path);
            } else {
#if defined(POSIX_FADV_WILLNEED)
                // The read starts now, in the background, while this thread
                // goes on to open the next file.
                (void)::posix_fadvise(fd, 0, std::min(size, prefetchSize), POSIX_FADV_WILLNEED);
                if (size > prefetchSize)
                    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
            }
#endif
        } catch (...) {
            failed.failure = std::current_exception();
        }

        // An open that had to wait for the disk says the tree is not in
        // memory: then every opener is wanted, to keep many reads in flight.
        // From memory one or two keep up with the hashers, and waking the
        // others would only cost the hashers' cores.
        const bool waitedForDisk = std::chrono::steady_clock::now() - started > slowOpen;
        bool wakeHasher;
        bool wakeOpener;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) {
                closeFile(fd);
                return;
            }
            Slot &opened = slot(index);
            opened.fd = fd;
            opened.size = size;
            opened.result = std::move(failed);
            opened.state = Slot::Opened;
            wakeHasher = index == nextToHash && hashersAsleep > 0;
            wakeOpener = waitedForDisk && openersAsleep > 0 && nextToOpen < std::min(count, nextToTake + ring.size());
        }
        if (wakeHasher)
            openedInOrder.notify_one();
        if (wakeOpener)
            roomToOpen.notify_one();
    }
}

void ScanPipeline::hashLoop(hashwrapper *hasher)
{
    const hashwrapper::KeepGoing keepGoing = [this] { return !stopping.load(std::memory_order_relaxed); };
    for (;;) {
        std::size_t index;
        int fd;
        long long size;
        bool large;
        bool overlap;
        {
            std::unique_lock<std::mutex> guard(lock);
            const auto ready = [&] {
                return stopping || nextToHash >= count || slot(nextToHash).state == Slot::Opened;
            };
            if (!ready()) {
                // The openers are behind: one more of them may help.
                if (openersAsleep > 0 && nextToOpen < std::min(count, nextToTake + ring.size()))
                    roomToOpen.notify_one();
                ++hashersAsleep;
                openedInOrder.wait(guard, ready);
                --hashersAsleep;
            }
            if (stopping || nextToHash >= count)
                return;
            index = nextToHash++;
            Slot &claimed = slot(index);
            claimed.state = Slot::Hashing;
            fd = claimed.fd;
            claimed.fd = -1;
            size = claimed.size;
            large = settings.oneLargeFileAtATime && fd >= 0 && size >= largeFileSize;
            // Reading on a second thread pays only where a core would
            // otherwise wait.
            ++filesBeingHashed;
            overlap = size >= hashwrapper::overlapFileSize && filesBeingHashed < cores;
            // Another hasher may take the next file at once.
            if (nextToHash < count && slot(nextToHash).state == Slot::Opened)
                openedInOrder.notify_one();
            if (large) {
                largeFileFree.wait(guard, [&] { return stopping || !largeFileBusy; });
                if (stopping) {
                    closeFile(fd);
                    return;
                }
                largeFileBusy = true;
            }
        }

        Result result;
        if (fd >= 0) {
            try {
                const std::string path = nativePath(index);
                result.digest = hasher->digestOfOpenFile(fd, path, overlap, keepGoing);
            } catch (const hlException &error) {
                result.error = error.messageText();
            } catch (...) {
                result.failure = std::current_exception();
            }
            closeFile(fd);
        }

        bool wakeCaller;
        {
            std::lock_guard<std::mutex> guard(lock);
            Slot &done = slot(index);
            if (fd >= 0)
                done.result = std::move(result);
            done.state = Slot::Done;
            --filesBeingHashed;
            if (large)
                largeFileBusy = false;
            wakeCaller = callerWaiting && slot(nextToTake).state == Slot::Done
                         && slot(callerBatchEnd).state == Slot::Done;
        }
        if (wakeCaller)
            hashed.notify_one();
        if (large)
            largeFileFree.notify_one();
    }
}

bool ScanPipeline::take(Result &result, const std::function<bool()> &stillWanted)
{
    auto lastAsked = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(lock);
    Slot &next = slot(nextToTake);
    while (next.state != Slot::Done) {
        const std::size_t batch = std::min<std::size_t>(32, ring.size() - 1);
        callerBatchEnd = std::min(nextToTake + batch, count - 1);
        callerWaiting = true;
        hashed.wait_until(guard, lastAsked + askInterval);
        callerWaiting = false;
        if (next.state == Slot::Done)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastAsked >= askInterval) {
            guard.unlock();
            if (!stillWanted())
                return false;
            guard.lock();
            lastAsked = now;
        }
    }
    result = std::move(next.result);
    next.result = Result();
    next.state = Slot::Waiting;
    ++nextToTake;
    const bool wakeOpeners = openersAsleep > 0 && nextToTake + ring.size() - nextToOpen >= std::max<std::size_t>(ring.size() / 4, 1);
    guard.unlock();
    if (wakeOpeners)
        roomToOpen.notify_one();
    return true;
}

ScanPipeline::Settings ScanPipeline::settingsFor(const std::string &sourcePath, int jobs)
{
    Settings settings;
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    settings.hashers = jobs > 0 ? jobs : cores;
    // Many small reads in flight keep a solid-state or network disk busy,
    // and let a disk with moving heads order them; opening costs no core.
    settings.openers = std::max(16, 2 * settings.hashers);
    settings.oneLargeFileAtATime = isRotational(sourcePath);
#if defined(__unix__) || defined(__APPLE__)
    // Every file in the window may hold a descriptor.
    rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const rlim_t spare = files.rlim_cur / 2;
        settings.window = std::min<std::size_t>(settings.window, std::max<rlim_t>(spare, 1));
    }
#endif
    return settings;
}
