// The worker threads of ScanPipeline: the openers, which open files ahead,
// ask the kernel to read them and close them again, and the hashers, which
// open, read and hash every file and hand the results back in order.
#include "scanpipeline.h"

#include "hashwrapper.h"
#include "hlexception.h"
#include "steadyhash.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define ORVALEN_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVALEN_UNDER_TSAN 1
#endif
#endif

// ThreadSanitizer sees neither the opens and closes the kernel does for
// io_uring nor the rings it maps: a descriptor number or a ring's address
// used again looks to it like a race.
#if defined(ORVALEN_URING) && !defined(ORVALEN_UNDER_TSAN)
#define ORVALEN_SCAN_BATCHES 1
#include "runbatch.h"
#endif

#if defined(ORVALEN_POSIX)
#include "folderhandle.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>
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
// An open that takes longer than this had to read from the disk.
constexpr auto slowOpen = std::chrono::microseconds(200);
// While the openers open, they look whether every this many'th file is in
// memory; so many such files in a row hand the opening back to the hashers.
constexpr std::size_t lookEvery = 16;
constexpr int inMemoryToTrust = 8;
// Files a hasher that opens them itself claims at once, at most. While
// its files are small, each costs less than the claim's turn of the lock
// and the wake-ups at its hand-back, and it claims more of them; with
// larger files a long run would leave the other hashers without work at
// the end of the scan, and the caller waiting for its results.
constexpr std::size_t filesPerClaim = 8;
constexpr std::size_t smallFilesPerClaim = 32;
#if defined(ORVALEN_SCAN_BATCHES)
static_assert(smallFilesPerClaim <= RunBatch::mostFiles, "a run is one batch");
#endif
constexpr long long smallFileSize = 64 * 1024;

bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
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

// A hasher opens and closes a file every microsecond or two. In a table
// that other threads share, the kernel takes a reference on the file at
// every call that names a descriptor and locks the table at every open and
// close, and the lines it writes move between the cores with each call; in
// a table of its own it does neither. The table is a copy of the process's,
// so the descriptors open now, the tree's root among them, stay at hand.
// Where the system refuses, the hasher stays in the shared table.
// ThreadSanitizer knows one table a process: the same number open in two
// tables looks to it like one descriptor used by two threads in no order.
void keepOwnDescriptors()
{
#if defined(__linux__) && defined(CLONE_FILES) && !defined(ORVALEN_UNDER_TSAN)
    (void)::unshare(CLONE_FILES);
#endif
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

bool ScanPipeline::batchesSmallFiles()
{
#if defined(ORVALEN_SCAN_BATCHES)
    return true;
#else
    return false;
#endif
}

int ScanPipeline::openInPipeline(FolderHandle &folder, const std::string &path, long long *size,
                                 Result &result)
{
#if defined(ORVALEN_POSIX)
    bool triedAlone = false;
    for (;;) {
        const unsigned long long seen = descriptorsReleased.load(std::memory_order_acquire);
        struct stat status;
        const int fd = folder.openRegularFile(path, nativePrefix.size(), &status);
        if (fd >= 0) {
            *size = static_cast<long long>(status.st_size);
            result.before = FileStamp::of(status);
            return fd;
        }
        const int cause = errno;
        // Short of descriptors, the folder's goes first.
        if (outOfDescriptors(cause))
            folder.release();
        std::unique_lock<std::mutex> guard(lock);
        // While it waits this hasher holds nothing: another one short of a
        // descriptor must not count on it.
        releaseDescriptor(false, true);
        if (!outOfDescriptors(cause)) {
            guard.unlock();
            result.error = cause;
            return -1;
        }
        // Out of descriptors is no fault of the file. Another hasher or an
        // opener closes its file soon, and the listing holds its
        // directories only until it is done. With nothing of that left, one
        // more try tells a passing shortage from one that would never end.
        if (hashersHolding > 0 || !listed) {
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
    (void)folder;
    (void)path;
    (void)size;
    (void)result;
    return -1;
#endif
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
        bool hasherOpens = false;
#if defined(ORVALEN_POSIX)
        if (!failed.unread && !failed.failure && !failed.shortage) {
            struct stat status;
            fd = hashwrapper::openRegularFileBelow(rootFd, path, nativePrefix.size(), &status);
            if (fd >= 0) {
                size = static_cast<long long>(status.st_size);
                hasherOpens = true;
            } else {
                // Short of descriptors, the file is left to its hasher,
                // which waits for one where an opener must not.
                const int cause = errno;
                hasherOpens = outOfDescriptors(cause);
                if (!hasherOpens)
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
#endif
            // The hasher opens the file again, from the kernel's caches: a
            // descriptor never passes between threads, whose tables may be
            // their own.
            closeFile(fd);
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
            releaseDescriptor(fd >= 0, false);
            if (stopping)
                return;
            OpenedAhead &opened = ahead(index);
            opened.hasherOpens = hasherOpens;
            opened.path = std::move(path);
            Slot &slotted = slot(index);
            slotted.result = std::move(failed);
            slotted.state = Slot::Opened;
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
    keepOwnDescriptors();
#if defined(ORVALEN_POSIX)
    FolderHandle folder(rootFd);
#endif
    const hashwrapper::KeepGoing keepGoing = [this] { return !stopping.load(std::memory_order_relaxed); };
    // A hasher that opens the files itself claims a few in a row in one
    // turn of the lock, and hands them back in one: with small files the
    // lock, and the lines of memory every turn of it moves between the
    // cores, cost more than the kernel's work on a file. Kept from run to
    // run, so that paths cost no allocation. The results are written where
    // the caller takes them, in the claimed slots, which no other thread
    // touches until they are handed back under the lock.
    std::vector<std::string> runPaths(smallFilesPerClaim);
    std::vector<std::exception_ptr> pathFailures(smallFilesPerClaim);
    std::vector<char> unread(smallFilesPerClaim);
    // Whether the files of the last run were small, and the bytes of this
    // run's files as they were opened.
    bool smallFiles = false;
    long long runBytes = 0;
    std::size_t first = 0;
    std::size_t count = 0;
    // The run counts one descriptor as held by this hasher, which opens
    // its files one at a time.
    bool holding = false;
    bool missedCache = false;
#if defined(ORVALEN_SCAN_BATCHES)
    RunBatch batch(rootFd);
#endif
    for (;;) {
        bool opensItself;
        bool fromOpener = false;
        bool wakeOpener;
        Wakes wakes;
        if (count > 0) {
            smallFiles = runBytes < smallFileSize * static_cast<long long>(count);
            runBytes = 0;
        }
        {
            std::unique_lock<std::mutex> guard = locked();
            if (count > 0)
                wakes = handBackUnderLock(first, count, holding, missedCache);
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
                count = std::min(smallFiles ? smallFilesPerClaim : filesPerClaim,
                                 std::max<std::size_t>((room() + 1) / 2, 1));
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
                slot(first).state = Slot::Hashing;
                OpenedAhead &claimed = ahead(first);
                fromOpener = true;
                runPaths[0] = std::move(claimed.path);
                if (claimed.hasherOpens) {
                    opensItself = true;
                    claimed.hasherOpens = false;
                    ++descriptorsHeld;
                    ++hashersHolding;
                    holding = true;
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

#if defined(ORVALEN_SCAN_BATCHES)
        // What the batch cannot do for a file, the file's own calls below do.
        batch.begin(count);
        if (opensItself && !fromOpener && smallFiles && count > 1 && batch.usable()
            && !stopping.load(std::memory_order_relaxed)) {
            for (std::size_t i = 0; i < count; ++i)
                if (!unread[i] && !pathFailures[i])
                    batch.add(i, runPaths[i], nativePrefix.size(), folder, (first + i) % lookEvery == 0);
            const auto started = std::chrono::steady_clock::now();
            // As below: a refused read without waiting of a file that came
            // as fast as from memory did not wait.
            missedCache = batch.hash(*hasher) && std::chrono::steady_clock::now() - started > slowOpen;
        }
#endif
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t index = first + i;
            Result &result = slot(index).result;
            int fd = -1;
            long long size = 0;
            if (!fromOpener) {
                result.clear();
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
            // The batch opened it, and hashed it or left it open.
            bool fromBatch = false;
#if defined(ORVALEN_SCAN_BATCHES)
            fromBatch = batch.take(i, result, fd);
            if (fromBatch)
                size = result.before.size;
#endif
#if defined(ORVALEN_POSIX)
            if (fromBatch ? fd >= 0
                          : opensItself && !result.unread && !result.failure && !result.shortage
                                && !stopping.load(std::memory_order_relaxed)) {
                // After a failed open, which gave its descriptor back, the
                // next file takes one again.
                if (!holding) {
                    std::unique_lock<std::mutex> guard = locked();
                    ++descriptorsHeld;
                    ++hashersHolding;
                }
                if (!fromBatch)
                    fd = openInPipeline(folder, runPaths[i], &size, result);
                holding = fd >= 0;
#if defined(POSIX_FADV_SEQUENTIAL)
                // Its opener asked for the start only: the rest follows
                // through a larger read-ahead window.
                if (fromOpener && fd >= 0 && size > prefetchSize)
                    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
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
                const bool look = opensItself && !fromBatch && index % lookEvery == 0;
                bool missed = false;
                const auto started = look ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
                try {
                    result.changing = SteadyHash::ofOpenFile(*hasher, result.digest, fd, size, runPaths[i],
                                                             overlap, keepGoing, look ? &missed : nullptr,
                                                             result.before, result.after);
                } catch (...) {
                    keepFailure(result);
                }
                // The kernel now and then refuses a read without waiting of
                // a file it holds in memory (a page marked for read-ahead,
                // a lock held for a moment). Each such refusal handed the
                // opening to the openers for the next hundreds of files,
                // which cost the hashers a lock turn and a wake-up each: a
                // file read as fast as from memory did not wait for a disk.
                if (missed && std::chrono::steady_clock::now() - started <= slowOpen)
                    missed = false;
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
            runBytes += result.before.size;
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
                                                    bool holding,
                                                    bool missedCache)
{
    Wakes wakes;
    for (std::size_t i = 0; i < count; ++i)
        slot(first + i).state = Slot::Done;
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
