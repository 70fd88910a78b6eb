#pragma once

#include "devicepolicy.h"
#include "scanqueue.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FolderHandle;
class hashwrapper;

// Opens, reads and hashes the files of a scan on worker threads, ahead of
// the calling thread, which takes the results one by one in listing order.
// Files can be handed in while the tree is still being listed, so hashing
// starts with the first directory. Hashers take the files in order, each
// with its own hash object; no more threads hash than there are cores.
// While the files are found in memory the hashers only open them. Once a
// file has to come from the disk, openers open the files ahead, ask the
// kernel to read them now and close them, so that many reads are in
// flight; when the openers find the files in memory again they leave the
// files to the hashers alone. A hasher whose files are small claims longer
// runs of them, and opens and reads a run's files a batch at a time where
// io_uring serves (RunBatch). Every file is opened, read and closed by its
// hasher, on a descriptor table of the hasher's own where the system gives
// one: a descriptor never passes from one thread to another. Two windows
// bound what is held however large the tree: at most `openAhead` files are
// claimed ahead of the hashers, and at most `window` results wait for the
// caller. Every thread ends inside stop() or the destructor.
//
// The machine may refuse threads, memory or descriptors. As many workers
// start as the system gives, at least one hasher, or the constructor throws
// std::system_error with none left running. A worker that runs out of
// descriptors while the scan holds others waits for one of them to be
// closed; with none held it hands the shortage to the caller in the
// file's result. A hasher's own table is a copy of the process's as the
// hasher starts, and counts against the same limit on its own.
//
// The worker threads' loops are in scanworkers.cpp; the caller's and the
// listing's side, and the lock they share, in scanpipeline.cpp.
class ScanPipeline : private ScanQueue
{
public:
    static constexpr int maxHashers = DevicePolicy::maxHashers;
    using Settings = DevicePolicy::Settings;
    using ScanQueue::Result;
    using ScanQueue::Taken;

    // Files are named nativePrefix followed by the paths handed in; with a
    // rootFd, the directory nativePrefix names open, they are opened below
    // it. makeHasher: one new hash object per hasher.
    ScanPipeline(std::string nativePrefix, const std::function<hashwrapper *()> &makeHasher,
                 const Settings &settings, int rootFd = -1);
    ~ScanPipeline();

    ScanPipeline(const ScanPipeline &) = delete;
    ScanPipeline &operator=(const ScanPipeline &) = delete;

    // The next file in listing order, by its path below the prefix; it
    // reaches the workers with the next publish(). A file not to be read
    // only keeps its place in the order.
    void add(const char *below, std::size_t length, bool read = true);
    // With listAhead, waits for room first; false once stopping, when the
    // files are not taken. Short of memory it throws std::bad_alloc and
    // publishes none of them.
    bool publish();
    // Forgets the files added since the last publish(), which failed.
    void dropUnpublished();
    // Every file has been handed in.
    void finish();
    // With a listing on a thread of its own: publish() waits while this
    // many files are handed in and not yet taken, so that memory does not
    // grow with the tree. 0, as at first, never waits.
    void setListAhead(std::size_t files);
    // Waits until every file is handed in, true, or until the listing waits
    // for room, false; also false once stillWanted, asked about every
    // 100 ms, answers false.
    bool waitUntilListed(const std::function<bool()> &stillWanted);

    // Waits for the result of the next file in listing order. While it
    // waits, stillWanted is asked about every 100 ms on the calling thread;
    // when it answers false the wait ends and take returns false, as it
    // does once every file handed in before finish() has been taken.
    bool take(Result &result, const std::function<bool()> &stillWanted);
    // Waits until the next file to take has been handed in, and gives its
    // path below the prefix; false as take.
    bool nextPath(std::string &below, const std::function<bool()> &stillWanted);
    // Takes, without waiting, the results that are there, in order, at most
    // most of them, each with its path below the prefix, into the first
    // entries of taken; how many. taken grows to most entries, which keep
    // their strings' room from call to call.
    std::size_t takeReady(std::vector<Taken> &taken, std::size_t most);

    // No new file is opened, a file being hashed is abandoned at its next
    // piece, and every worker has ended when this returns.
    void stop();

    // For the listing, which opens directories on the calling thread while
    // the workers open files: when an open found no descriptor free, waits
    // until the workers have closed one of theirs. False at once when they
    // hold none, so the shortage is not theirs to end.
    bool waitForDescriptor();

    // Whether the hashers open and read runs of small files in batches
    // through io_uring where the kernel serves it (see UringReader).
    static bool batchesSmallFiles();

    // See DevicePolicy.
    static Settings settingsFor(const std::string &sourcePath, int jobs)
    {
        return DevicePolicy::settingsFor(sourcePath, jobs);
    }

private:
    void openLoop();
    void hashLoop(hashwrapper *hasher);
    // A late hasher's wait for a long scan: true once it is one, false when
    // the pipeline stops first. A short scan's late hasher waits for the
    // stop that ends every pipeline; it holds nothing meanwhile.
    bool waitForLongScan();
    // Whom a hasher is to wake once it lets go of the lock.
    struct Wakes
    {
        bool everyone = false;
        bool caller = false;
        bool largeFileFree = false;
    };
    // Under the lock: a hasher hands back the count files from first on,
    // their results written; holding, it gives back the descriptor its run
    // held.
    Wakes handBackUnderLock(std::size_t first, std::size_t count, bool holding, bool missedCache);
    void sendWakes(const Wakes &wakes);
    // The lock, tried for a moment before sleeping on it: it is held for
    // well under a microsecond at a time, and a thread put to sleep for it
    // costs two context switches, which take longer, on a virtual machine
    // much longer, than the wait.
    std::unique_lock<std::mutex> locked();
    // Under guard, which it releases: files were taken, which makes room.
    void tookSome(std::unique_lock<std::mutex> &guard);
    // The caller's wait, under guard, until ready(), asking stillWanted
    // every askInterval; false when that answered false or every file
    // handed in has been taken. forResult: the caller waits for a file's
    // result, which the workers may owe only to a batch of room.
    template <typename Ready>
    bool waitAsCaller(std::unique_lock<std::mutex> &guard, Ready ready, bool forResult,
                      const std::function<bool()> &stillWanted);
    // How many files an opener may claim now: none while the hashers open.
    std::size_t openable() const;
    // Whether a hasher may claim the next file and open it itself.
    bool hasherMayOpen() const;
    // Whether a sleeping opener, or hasher, should be woken: it could claim
    // a batch of files.
    bool openerWanted() const;
    bool hasherWanted() const;
    bool batchFits(std::size_t free) const;
    // Waits until no other large file is being read; false once stopping.
    bool waitForLargeFileTurn(std::unique_lock<std::mutex> &guard);
    // Called under the lock when a hasher found a file out of memory, or the
    // openers found files in memory again; true when that changed who
    // opens, and then every sleeper is to be woken once the lock is free.
    bool setFromMemory(bool inMemory);
    void wakeEveryone();
    // A hasher opens the file it claimed at path, through the folder it
    // keeps, its status as opened into result.before; -1 with result's
    // error or failure set, or when stopping.
    int openInPipeline(FolderHandle &folder, const std::string &path, long long *size, Result &result);
    // Under the lock: a claimed file's descriptor was closed, or its open
    // failed and it never held one.
    void releaseDescriptor(bool wasOpen, bool byHasher);

    const Settings settings;
    const int rootFd;

    std::vector<std::unique_ptr<hashwrapper>> hashers;
    std::vector<std::thread> threads;

    std::mutex lock;
    std::condition_variable roomToOpen;
    std::condition_variable openedInOrder;
    std::condition_variable hashed;
    std::condition_variable largeFileFree;
    std::condition_variable roomToList;
    std::condition_variable listingWaits;
    std::condition_variable longScan;
    int lateWaiting = 0;
    bool listerWaiting = false;
    std::size_t listAhead = 0;
    bool listed = false;
    // Sleeping threads are woken in batches, not once per file: openers
    // when a good part of a window is free again, the caller when the file
    // it waits for and the batch after it are hashed.
    int openersAsleep = 0;
    int hashersAsleep = 0;
    bool callerWaiting = false;
    std::size_t callerBatchEnd = 0;
    bool largeFileBusy = false;
    // The files have been found in memory: the hashers open them.
    bool fromMemory = true;
    // Files in a row, among those the openers looked at, found in memory.
    int foundInMemory = 0;
    int cores = 1;
    int filesBeingHashed = 0;
    // Whether any opener runs: without one the hashers open every file.
    bool openersRunning = false;
    // Descriptors held by the workers: files claimed for opening, being
    // opened ahead, or being hashed. Released counts the closes, so that a worker
    // or the listing short of a descriptor knows when to try again.
    int descriptorsHeld = 0;
    // Those of them held by hashers: files being opened or hashed.
    int hashersHolding = 0;
    // Written under the lock, read without it before an open.
    std::atomic<unsigned long long> descriptorsReleased{0};
    int descriptorWaiters = 0;
    std::condition_variable descriptorFreed;
    // Also read without the lock, between the pieces of a large file.
    std::atomic<bool> stopping{false};
};
