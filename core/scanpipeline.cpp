#include "scanpipeline.h"

#include "hashwrapper.h"
#include "hlexception.h"
#include "treelisting.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <new>
#include <system_error>
#include <utility>

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

// Files at least this large count as large: on a disk with moving heads two
// of them read at once would make it seek back and forth between them.
constexpr long long largeFileSize = 8LL * 1024 * 1024;
static_assert(largeFileSize >= hashwrapper::overlapFileSize,
              "a hasher decides both for a file of at least the smaller size");
// How much of a file the opener asks the kernel to read at once; the rest
// of a larger file follows through the kernel's own read-ahead.
constexpr long long prefetchSize = 2LL * 1024 * 1024;
constexpr auto askInterval = std::chrono::milliseconds(100);
// An open that takes longer than this had to read from the disk.
constexpr auto slowOpen = std::chrono::microseconds(200);
// While the openers open, they look whether every this many'th file is in
// memory; so many such files in a row hand the opening back to the hashers.
constexpr std::size_t lookEvery = 16;
constexpr int inMemoryToTrust = 8;
// Files a hasher that opens them itself claims at once, at most.
constexpr std::size_t filesPerClaim = 8;
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

bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

// Starts a thread running work; false where the system has no thread or
// no memory for it.
template <typename Work>
bool startThread(std::vector<std::thread> &threads, Work work)
{
    try {
        threads.emplace_back(work);
        return true;
    } catch (const std::system_error &) {
    } catch (const std::bad_alloc &) {
    }
    return false;
}

void closeFile(int fd)
{
#if defined(ORVALEN_POSIX)
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

// Called inside a handler. Out of memory, every worker may fail at once:
// kept as exception objects, their failures would use up the little memory
// the runtime keeps for throwing, so the caller throws for them instead.
void keepFailure(ScanPipeline::Result &result)
{
    try {
        throw;
    } catch (const hlException &error) {
        result.error = error.errorNumber != 0 ? error.errorNumber : EIO;
    } catch (const std::bad_alloc &) {
        result.shortage = ENOMEM;
    } catch (...) {
        result.failure = std::current_exception();
    }
}

} // namespace

struct ScanPipeline::Slot
{
    enum State { Waiting, Opened, Hashing, Done };
    State state = Waiting;
    int fd = -1;
    long long size = 0;
    // The file's full path, handed from its opener to its hasher.
    std::string path;
    // Opened: no descriptor was free for it; its hasher opens it.
    bool openLater = false;
    Result result;
};

ScanPipeline::ScanPipeline(std::string nativePrefix, const std::function<hashwrapper *()> &makeHasher,
                           const Settings &settings, int rootFd)
    : nativePrefix(std::move(nativePrefix)), settings(settings), rootFd(rootFd),
      ring(std::max<std::size_t>(settings.window, 1)), fromMemory(settings.hashersOpenFromMemory),
      cores(std::max(1, static_cast<int>(std::thread::hardware_concurrency())))
{
    const int hasherCount = std::max(1, settings.hashers);
    for (int i = 0; i < hasherCount; ++i)
        hashers.emplace_back(makeHasher());
    threads.reserve(static_cast<std::size_t>(hasherCount + std::max(0, settings.openers)));
    // A container's process limit or a small address space refuses threads
    // well below what a many-core host asks for: the scan makes do with
    // those it gets. Nothing is published yet, so no worker has anything to
    // do while the others start.
    for (const std::unique_ptr<hashwrapper> &hasher : hashers) {
        hashwrapper *own = hasher.get();
        if (!startThread(threads, [this, own] { hashLoop(own); }))
            break;
    }
    if (threads.empty())
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    int openersStarted = 0;
    for (int i = 0; i < settings.openers; ++i) {
        if (!startThread(threads, [this] { openLoop(); }))
            break;
        ++openersStarted;
    }
    std::lock_guard<std::mutex> guard(lock);
    openersRunning = openersStarted > 0;
    if (!openersRunning)
        fromMemory = true;
}

ScanPipeline::~ScanPipeline()
{
    stop();
}

std::unique_lock<std::mutex> ScanPipeline::locked()
{
    // With one core the holder cannot run while this one tries.
    const int tries = cores > 1 ? 200 : 0;
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    for (int tried = 0; !guard.owns_lock() && tried < tries; ++tried) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        guard.try_lock();
    }
    if (!guard.owns_lock())
        guard.lock();
    return guard;
}

ScanPipeline::Slot &ScanPipeline::slot(std::size_t index)
{
    return ring[index % ring.size()];
}

void ScanPipeline::add(const char *below, std::size_t length, bool read)
{
    addedPaths.append(below, length);
    addedEnds.push_back(addedPaths.size());
    addedUnread.push_back(!read);
}

bool ScanPipeline::publish()
{
    if (addedEnds.empty())
        return !stopping;
    bool wakeOpener;
    bool wakeHasher;
    bool wakeCaller;
    {
        std::unique_lock<std::mutex> guard = locked();
        if (listAhead > 0 && published() - nextToTake >= listAhead) {
            listerWaiting = true;
            listingWaits.notify_all();
            roomToList.wait(guard, [&] { return stopping || published() - nextToTake < listAhead; });
            listerWaiting = false;
        }
        if (stopping) {
            guard.unlock();
            addedPaths.clear();
            addedEnds.clear();
            addedUnread.clear();
            return false;
        }
        // Room first, grown as the containers grow themselves: once it is
        // there nothing below can fail half way.
        const auto makeRoom = [](auto &held, std::size_t more) {
            if (held.capacity() - held.size() < more)
                held.reserve(std::max(held.size() + more, 2 * held.capacity()));
        };
        makeRoom(paths, addedPaths.size());
        makeRoom(pathEnds, addedEnds.size());
        makeRoom(unreadFiles, addedUnread.size());
        const std::size_t base = baseBytes + paths.size();
        paths += addedPaths;
        for (const std::size_t end : addedEnds)
            pathEnds.push_back(base + end);
        unreadFiles.insert(unreadFiles.end(), addedUnread.begin(), addedUnread.end());
        wakeOpener = openersAsleep > 0 && openable() > 0;
        wakeHasher = hashersAsleep > 0 && hasherMayOpen();
        wakeCaller = callerWaiting;
    }
    addedPaths.clear();
    addedEnds.clear();
    addedUnread.clear();
    if (wakeOpener)
        roomToOpen.notify_one();
    if (wakeHasher)
        openedInOrder.notify_one();
    // A caller that took every file published so far waits for more.
    if (wakeCaller)
        hashed.notify_one();
    return true;
}

void ScanPipeline::dropUnpublished()
{
    addedPaths.clear();
    addedEnds.clear();
    addedUnread.clear();
}

void ScanPipeline::finish()
{
    publish();
    {
        std::lock_guard<std::mutex> guard(lock);
        listed = true;
    }
    // Workers waiting for more files learn that there are none, and those
    // short of a descriptor that the listing holds none any more.
    roomToOpen.notify_all();
    openedInOrder.notify_all();
    descriptorFreed.notify_all();
    hashed.notify_all();
    listingWaits.notify_all();
}

void ScanPipeline::setListAhead(std::size_t files)
{
    std::lock_guard<std::mutex> guard(lock);
    listAhead = files;
}

bool ScanPipeline::waitUntilListed(const std::function<bool()> &stillWanted)
{
    std::unique_lock<std::mutex> guard(lock);
    while (!listed && !listerWaiting && !stopping) {
        if (listingWaits.wait_for(guard, askInterval) == std::cv_status::timeout) {
            guard.unlock();
            if (!stillWanted())
                return false;
            guard.lock();
        }
    }
    return listed;
}

std::string ScanPipeline::pathOf(std::size_t index) const
{
    std::string path;
    path.reserve(nativePrefix.size() + 64);
    pathInto(index, path);
    return path;
}

void ScanPipeline::pathInto(std::size_t index, std::string &path) const
{
    const std::size_t at = index - pathBase;
    const std::size_t begin = at == 0 ? baseBytes : pathEnds[at - 1];
    path.assign(nativePrefix);
    path.append(paths, begin - baseBytes, pathEnds[at] - begin);
}

void ScanPipeline::forgetTaken()
{
    // Dropping from the front moves what is held, so it waits until at
    // least half of it is taken.
    const std::size_t taken = nextToTake - pathBase;
    if (taken < 4096 || taken * 2 < pathEnds.size())
        return;
    const std::size_t bytes = pathEnds[taken - 1] - baseBytes;
    paths.erase(0, bytes);
    pathEnds.erase(pathEnds.begin(), pathEnds.begin() + static_cast<std::ptrdiff_t>(taken));
    unreadFiles.erase(unreadFiles.begin(), unreadFiles.begin() + static_cast<std::ptrdiff_t>(taken));
    baseBytes += bytes;
    pathBase = nextToTake;
}

std::size_t ScanPipeline::room() const
{
    const std::size_t limit = std::min({published(), nextToTake + ring.size(),
                                        nextToHash + settings.openAhead});
    return limit > nextToOpen ? limit - nextToOpen : 0;
}

std::size_t ScanPipeline::openable() const
{
    return fromMemory ? 0 : room();
}

bool ScanPipeline::hasherMayOpen() const
{
    return fromMemory && nextToHash == nextToOpen && room() > 0;
}

bool ScanPipeline::batchFits(std::size_t free) const
{
    // A batch of files, or near the end of the list what there is.
    std::size_t batch = std::max<std::size_t>(settings.openAhead / 4, 1);
    if (listed)
        batch = std::min(batch, published() - nextToOpen);
    return free > 0 && free >= batch;
}

bool ScanPipeline::openerWanted() const
{
    return openersAsleep > 0 && batchFits(openable());
}

bool ScanPipeline::hasherWanted() const
{
    return hashersAsleep > 0 && hasherMayOpen() && batchFits(room());
}

bool ScanPipeline::setFromMemory(bool inMemory)
{
    if (fromMemory == inMemory)
        return false;
    fromMemory = inMemory;
    foundInMemory = 0;
    return true;
}

void ScanPipeline::wakeEveryone()
{
    roomToOpen.notify_all();
    openedInOrder.notify_all();
    largeFileFree.notify_all();
    hashed.notify_all();
    roomToList.notify_all();
}

bool ScanPipeline::waitForLargeFileTurn(std::unique_lock<std::mutex> &guard)
{
    largeFileFree.wait(guard, [&] { return stopping || !largeFileBusy; });
    if (stopping)
        return false;
    largeFileBusy = true;
    return true;
}

void ScanPipeline::stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wakeEveryone();
    for (std::thread &thread : threads)
        thread.join();
    threads.clear();
    for (Slot &waiting : ring) {
        closeFile(waiting.fd);
        waiting.fd = -1;
    }
}

void ScanPipeline::releaseDescriptor(bool wasOpen, bool byHasher)
{
    --descriptorsHeld;
    if (byHasher)
        --hashersHolding;
    // Written only under the lock: a plain store, where an atomic increment
    // would cost every file a locked instruction on a line the other
    // workers read.
    if (wasOpen)
        descriptorsReleased.store(descriptorsReleased.load(std::memory_order_relaxed) + 1,
                                  std::memory_order_release);
    if (descriptorWaiters > 0 && (wasOpen || descriptorsHeld == 0 || (byHasher && hashersHolding == 0)))
        descriptorFreed.notify_all();
}

bool ScanPipeline::narrowWindow(std::size_t index)
{
    for (std::size_t later = nextToOpen; later-- > index + 1;) {
        Slot &ahead = slot(later);
        if (ahead.state == Slot::Opened && ahead.fd >= 0) {
            closeFile(ahead.fd);
            ahead.fd = -1;
            ahead.openLater = true;
            --descriptorsHeld;
            return true;
        }
    }
    return false;
}

int ScanPipeline::openForHashing(std::size_t index, const std::string &path, long long *size,
                                 Result &result)
{
#if defined(ORVALEN_POSIX)
    bool triedAlone = false;
    for (;;) {
        const unsigned long long seen = descriptorsReleased.load(std::memory_order_acquire);
        struct stat status;
        const int fd = hashwrapper::openRegularFileBelow(rootFd, path, nativePrefix.size(), &status);
        if (fd >= 0) {
            *size = static_cast<long long>(status.st_size);
            result.before = FileStamp::of(status);
            return fd;
        }
        const int cause = errno;
        std::unique_lock<std::mutex> guard(lock);
        // While it waits this hasher holds nothing: another one short of a
        // descriptor must not count on it.
        releaseDescriptor(false, true);
        if (!outOfDescriptors(cause)) {
            guard.unlock();
            result.error = cause;
            return -1;
        }
        // Out of descriptors is no fault of the file. Another hasher closes
        // its file soon; the files opened ahead wait for this one, so the
        // last of them gives its descriptor back, to be opened again in
        // turn; the listing holds its directories only until it is done.
        // With nothing of that left, one more try tells a passing shortage
        // from one that would never end.
        if (hashersHolding == 0 && narrowWindow(index)) {
            triedAlone = false;
        } else if (hashersHolding > 0 || !listed) {
            const int holding = hashersHolding;
            const bool wasListed = listed;
            ++descriptorWaiters;
            descriptorFreed.wait(guard, [&] {
                return stopping || descriptorsReleased != seen || (holding > 0 && hashersHolding == 0)
                       || listed != wasListed;
            });
            --descriptorWaiters;
            if (stopping)
                return -1;
            triedAlone = false;
        } else if (triedAlone) {
            result.shortage = cause;
            return -1;
        } else {
            triedAlone = true;
        }
        ++descriptorsHeld;
        ++hashersHolding;
    }
#else
    (void)index;
    (void)path;
    (void)size;
    (void)result;
    return -1;
#endif
}

bool ScanPipeline::waitForDescriptor()
{
    std::unique_lock<std::mutex> guard(lock);
    if (stopping || descriptorsHeld == 0)
        return false;
    const unsigned long long seen = descriptorsReleased.load(std::memory_order_acquire);
    ++descriptorWaiters;
    descriptorFreed.wait(guard, [&] {
        return stopping || descriptorsReleased != seen || descriptorsHeld == 0;
    });
    --descriptorWaiters;
    return !stopping;
}

void ScanPipeline::openLoop()
{
    for (;;) {
        std::size_t index;
        std::string path;
        Result failed;
        {
            std::unique_lock<std::mutex> guard(lock);
            ++openersAsleep;
            roomToOpen.wait(guard, [&] {
                return stopping || openable() > 0 || (listed && nextToOpen >= published());
            });
            --openersAsleep;
            if (stopping || openable() == 0)
                return;
            index = nextToOpen++;
            ++descriptorsHeld;
            failed.unread = isUnread(index);
            try {
                if (!failed.unread)
                    path = pathOf(index);
            } catch (...) {
                keepFailure(failed);
            }
        }

        int fd = -1;
        long long size = 0;
        bool looked = false;
        bool inMemory = false;
        const auto started = std::chrono::steady_clock::now();
#if defined(ORVALEN_POSIX)
        bool openLater = false;
        if (!failed.unread && !failed.failure && !failed.shortage) {
            struct stat status;
            fd = hashwrapper::openRegularFileBelow(rootFd, path, nativePrefix.size(), &status);
            if (fd >= 0) {
                size = static_cast<long long>(status.st_size);
                failed.before = FileStamp::of(status);
            } else {
                // Short of descriptors, the file is left to its hasher,
                // which waits for one where an opener must not.
                const int cause = errno;
                openLater = outOfDescriptors(cause);
                if (!openLater)
                    failed.error = cause;
            }
        }
        if (fd >= 0) {
            if (settings.hashersOpenFromMemory && size > 0 && index % lookEvery == 0) {
                looked = true;
                unsigned char first;
                inMemory = hashwrapper::readWithoutWaiting(fd, &first, 1, 0) == 1;
            }
#if defined(POSIX_FADV_WILLNEED)
            // The read starts now, in the background, while this thread
            // goes on to open the next file.
            if (!inMemory)
                (void)::posix_fadvise(fd, 0, std::min(size, prefetchSize), POSIX_FADV_WILLNEED);
            if (size > prefetchSize)
                (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
        }
#endif
        // An open that had to wait for the disk says the tree is not in
        // memory: then every opener is wanted, to keep many reads in flight.
        // From memory one or two keep up with the hashers, and waking the
        // others would only cost the hashers' cores.
        const bool waitedForDisk = std::chrono::steady_clock::now() - started > slowOpen;
        bool wakeHasher;
        bool wakeOpener;
        bool switched = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (fd >= 0 && stopping)
                closeFile(fd);
            if (fd < 0 || stopping)
                releaseDescriptor(fd >= 0, false);
            if (stopping)
                return;
            Slot &opened = slot(index);
            opened.openLater = openLater;
            opened.fd = fd;
            opened.size = size;
            opened.path = std::move(path);
            opened.result = std::move(failed);
            opened.state = Slot::Opened;
            if (looked) {
                foundInMemory = inMemory && !waitedForDisk ? foundInMemory + 1 : 0;
                if (foundInMemory >= inMemoryToTrust)
                    switched = setFromMemory(true);
            }
            wakeHasher = index == nextToHash && hashersAsleep > 0;
            wakeOpener = waitedForDisk && openersAsleep > 0 && openable() > 0;
        }
        if (switched) {
            wakeEveryone();
            continue;
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
    // A hasher that opens the files itself claims a few in a row in one
    // turn of the lock, and hands them back in one: with small files the
    // lock, and the lines of memory every turn of it moves between the
    // cores, cost more than the kernel's work on a file. Kept from run to
    // run, so that paths and digests cost no allocation.
    std::vector<std::string> runPaths(filesPerClaim);
    std::vector<Result> results(filesPerClaim);
    std::vector<std::exception_ptr> pathFailures(filesPerClaim);
    std::vector<char> unread(filesPerClaim);
    std::size_t first = 0;
    std::size_t count = 0;
    // The run counts one descriptor as held by this hasher, which opens
    // its files one at a time.
    bool holding = false;
    bool missedCache = false;
    for (;;) {
        bool opensItself;
        bool fromOpener = false;
        int openedFd = -1;
        long long openedSize = 0;
        bool wakeOpener;
        Wakes wakes;
        {
            std::unique_lock<std::mutex> guard = locked();
            if (count > 0)
                wakes = handBackUnderLock(first, count, results, holding, missedCache);
            count = 0;
            holding = false;
            missedCache = false;
            const auto ready = [&] {
                return stopping || (listed && nextToHash >= published())
                       || (nextToHash < nextToOpen && slot(nextToHash).state == Slot::Opened)
                       || hasherMayOpen();
            };
            if (!ready()) {
                // Whoever the files just handed back wake must not wait
                // for this hasher's sleep.
                sendWakes(wakes);
                wakes = Wakes();
                // The openers are behind: one more of them may help.
                if (openersAsleep > 0 && openable() > 0)
                    roomToOpen.notify_one();
                ++hashersAsleep;
                openedInOrder.wait(guard, ready);
                --hashersAsleep;
            }
            if (stopping || (listed && nextToHash >= published())) {
                guard.unlock();
                sendWakes(wakes);
                return;
            }
            first = nextToHash;
            ++filesBeingHashed;
            opensItself = first == nextToOpen;
            if (opensItself) {
                bool toOpen = false;
                // Half of what may be claimed, so that the other hashers
                // find files too.
                count = std::min(filesPerClaim, std::max<std::size_t>((room() + 1) / 2, 1));
                nextToHash += count;
                nextToOpen += count;
                for (std::size_t i = 0; i < count; ++i) {
                    const std::size_t index = first + i;
                    slot(index).state = Slot::Hashing;
                    pathFailures[i] = nullptr;
                    unread[i] = isUnread(index);
                    if (unread[i])
                        continue;
                    try {
                        pathInto(index, runPaths[i]);
                        toOpen = true;
                    } catch (...) {
                        pathFailures[i] = std::current_exception();
                    }
                }
                if (toOpen) {
                    ++descriptorsHeld;
                    ++hashersHolding;
                    holding = true;
                }
            } else {
                count = 1;
                ++nextToHash;
                Slot &claimed = slot(first);
                claimed.state = Slot::Hashing;
                fromOpener = true;
                results[0] = std::move(claimed.result);
                runPaths[0] = std::move(claimed.path);
                if (claimed.openLater) {
                    opensItself = true;
                    claimed.openLater = false;
                    ++descriptorsHeld;
                    ++hashersHolding;
                    holding = true;
                } else if (claimed.fd >= 0) {
                    ++hashersHolding;
                    holding = true;
                    openedFd = claimed.fd;
                    openedSize = claimed.size;
                    claimed.fd = -1;
                }
            }
            // Another hasher may take the next file at once.
            if (hashersAsleep > 0
                && ((nextToHash < nextToOpen && slot(nextToHash).state == Slot::Opened)
                    || hasherMayOpen()))
                openedInOrder.notify_one();
            // These files no longer count against the files held open.
            wakeOpener = openerWanted();
        }
        sendWakes(wakes);
        if (wakeOpener)
            roomToOpen.notify_one();

        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t index = first + i;
            Result &result = results[i];
            int fd = openedFd;
            long long size = openedSize;
            if (!fromOpener) {
                result = Result();
                result.unread = unread[i] != 0;
                if (pathFailures[i]) {
                    try {
                        std::rethrow_exception(pathFailures[i]);
                    } catch (...) {
                        keepFailure(result);
                    }
                    pathFailures[i] = nullptr;
                }
            }
#if defined(ORVALEN_POSIX)
            if (opensItself && !result.unread && !result.failure && !result.shortage
                && !stopping.load(std::memory_order_relaxed)) {
                // After a failed open, which gave its descriptor back, the
                // next file takes one again.
                if (!holding) {
                    std::unique_lock<std::mutex> guard = locked();
                    ++descriptorsHeld;
                    ++hashersHolding;
                }
                fd = openForHashing(index, runPaths[i], &size, result);
                holding = fd >= 0;
            }
#endif
            bool overlap = false;
            bool large = false;
            if (fd >= 0 && size >= hashwrapper::overlapFileSize) {
                std::unique_lock<std::mutex> guard = locked();
                // Reading on a second thread pays only where a core would
                // otherwise wait.
                overlap = filesBeingHashed < cores;
                large = settings.oneLargeFileAtATime && size >= largeFileSize;
                if (large && !waitForLargeFileTurn(guard)) {
                    closeFile(fd);
                    releaseDescriptor(true, true);
                    return;
                }
            }
            if (fd >= 0) {
                // Asking the kernel whether a file is in memory costs a
                // heavier read call; as the openers do, every lookEvery'th
                // file tells.
                const bool look = opensItself && index % lookEvery == 0;
                bool missed = false;
                try {
                    result.changing = hashSteadily(*hasher, result.digest, fd, size, runPaths[i], overlap,
                                                   keepGoing, look ? &missed : nullptr, result.before,
                                                   result.after);
                } catch (...) {
                    keepFailure(result);
                }
                closeFile(fd);
                // The rest of the run would wait for the disk one file at a
                // time: the openers take over at once, not at its end.
                if (missed && i + 1 < count) {
                    bool switched;
                    {
                        std::unique_lock<std::mutex> guard = locked();
                        switched = openersRunning && setFromMemory(false);
                    }
                    if (switched)
                        wakeEveryone();
                } else {
                    missedCache = missedCache || missed;
                }
            }
            if (large) {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    largeFileBusy = false;
                }
                largeFileFree.notify_one();
            }
        }
    }
}

ScanPipeline::Wakes ScanPipeline::handBackUnderLock(std::size_t first, std::size_t count,
                                                    std::vector<Result> &results, bool holding,
                                                    bool missedCache)
{
    Wakes wakes;
    for (std::size_t i = 0; i < count; ++i) {
        Slot &done = slot(first + i);
        done.result = std::move(results[i]);
        done.state = Slot::Done;
    }
    --filesBeingHashed;
    if (holding)
        releaseDescriptor(true, true);
    // From here the openers read ahead of the hashers.
    wakes.everyone = missedCache && openersRunning && setFromMemory(false);
    // The caller waits for both ends of its batch: only the run that
    // completes them can end its wait, and other files need not touch
    // their slots, which lie far apart in the ring.
    const auto inRun = [&](std::size_t index) { return index >= first && index - first < count; };
    wakes.caller = callerWaiting && (inRun(nextToTake) || inRun(callerBatchEnd))
                   && slot(nextToTake).state == Slot::Done && slot(callerBatchEnd).state == Slot::Done;
    return wakes;
}

void ScanPipeline::sendWakes(const Wakes &wakes)
{
    if (wakes.everyone)
        wakeEveryone();
    if (wakes.caller)
        hashed.notify_one();
    if (wakes.largeFileFree)
        largeFileFree.notify_one();
}

template <typename Ready>
bool ScanPipeline::waitAsCaller(std::unique_lock<std::mutex> &guard, Ready ready, bool forResult,
                                const std::function<bool()> &stillWanted)
{
    if (ready())
        return true;
    auto lastAsked = std::chrono::steady_clock::now();
    while (!ready()) {
        if (listed && nextToTake >= published())
            return false;
        if (forResult) {
            // Every other thread may be asleep, waiting for a batch of room
            // that only this caller's taking makes: then one must go on.
            if (openersAsleep > 0 && openable() > 0)
                roomToOpen.notify_one();
            if (hashersAsleep > 0 && hasherMayOpen())
                openedInOrder.notify_one();
            // Woken for thousands of results at a time, the caller costs the
            // hashers a few hundred wake-ups in a million files instead of
            // a million, each of which would also take a hasher's core
            // from it; the wait still ends every askInterval. The batch
            // grows with what was taken, so that the first files are
            // reported at once.
            const std::size_t batch = std::min<std::size_t>(
                {4096, ring.size() / 4, std::max<std::size_t>(nextToTake / 4, 64)});
            callerBatchEnd = published() > nextToTake ? std::min(nextToTake + batch, published() - 1) : nextToTake;
        }
        callerWaiting = true;
        hashed.wait_until(guard, lastAsked + askInterval);
        callerWaiting = false;
        if (ready())
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
    return true;
}

bool ScanPipeline::nextPath(std::string &below, const std::function<bool()> &stillWanted)
{
    std::unique_lock<std::mutex> guard = locked();
    if (!waitAsCaller(guard, [this] { return nextToTake < published(); }, false, stillWanted))
        return false;
    const std::size_t at = nextToTake - pathBase;
    const std::size_t begin = at == 0 ? baseBytes : pathEnds[at - 1];
    below.assign(paths, begin - baseBytes, pathEnds[at] - begin);
    return true;
}

bool ScanPipeline::take(Result &result, const std::function<bool()> &stillWanted)
{
    std::unique_lock<std::mutex> guard = locked();
    Slot &next = slot(nextToTake);
    const auto ready = [&] { return nextToTake < published() && next.state == Slot::Done; };
    if (!waitAsCaller(guard, ready, true, stillWanted))
        return false;
    result = std::move(next.result);
    next.result = Result();
    next.state = Slot::Waiting;
    ++nextToTake;
    tookSome(guard);
    return true;
}

std::size_t ScanPipeline::takeReady(std::vector<Taken> &taken, std::size_t most)
{
    if (taken.size() < most)
        taken.resize(most);
    std::unique_lock<std::mutex> guard = locked();
    std::size_t count = 0;
    for (; count < most && nextToTake < published(); ++count) {
        Slot &next = slot(nextToTake);
        if (next.state != Slot::Done)
            break;
        Taken &into = taken[count];
        const std::size_t at = nextToTake - pathBase;
        const std::size_t begin = at == 0 ? baseBytes : pathEnds[at - 1];
        into.below.assign(paths, begin - baseBytes, pathEnds[at] - begin);
        // Moved, the strings trade their room (libstdc++ swaps the two
        // buffers): the slot keeps what the taken entry held, for the next
        // file, and nothing is freed.
        into.result = std::move(next.result);
        next.result = Result();
        next.state = Slot::Waiting;
        ++nextToTake;
    }
    if (count > 0)
        tookSome(guard);
    return count;
}

void ScanPipeline::tookSome(std::unique_lock<std::mutex> &guard)
{
    forgetTaken();
    const bool wakeOpener = openerWanted();
    const bool wakeHasher = hasherWanted();
    // The listing waits for half of what it may hand in ahead.
    const bool wakeLister = listerWaiting && published() - nextToTake <= listAhead / 2;
    guard.unlock();
    if (wakeOpener)
        roomToOpen.notify_one();
    if (wakeHasher)
        openedInOrder.notify_one();
    if (wakeLister)
        roomToList.notify_one();
}

bool ScanPipeline::hashSteadily(hashwrapper &hasher, std::string &digest, int fd, long long size,
                                const std::string &path, bool overlap, const std::function<bool()> &keepGoing,
                                bool *missedCache, const FileStamp &before, FileStamp &after)
{
    FileStamp start = before;
    for (int read = 0;; ++read) {
        hasher.digestOfOpenFile(digest, fd, size, path, overlap, keepGoing, read == 0 ? missedCache : nullptr);
#if defined(ORVALEN_POSIX)
        // The one look a file costs beyond its open: a file that held still
        // is read once.
        after = FileStamp::ofOpen(fd);
#else
        after = start;
#endif
        const bool changed = after.differsFrom(start);
        if (digest.empty() || read == rereads || !changed)
            return changed && !digest.empty();
        start = after;
        size = after.size;
    }
}

ScanPipeline::Settings ScanPipeline::settingsFor(const std::string &sourcePath, int jobs)
{
    Settings settings;
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    settings.hashers = std::min(jobs > 0 ? jobs : cores, maxHashers);
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
    return settings;
}
