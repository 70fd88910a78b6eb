#pragma once

#include "filestamp.h"

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

class hashwrapper;

// Opens, reads and hashes the files of a scan on worker threads, ahead of
// the calling thread, which takes the results one by one in listing order.
// Files can be handed in while the tree is still being listed, so hashing
// starts with the first directory. Hashers take the files in order, each
// with its own hash object; no more threads hash than there are cores.
// While the files are found in memory the hashers open them themselves.
// Once a file has to come from the disk, openers open the files ahead and
// ask the kernel to read them now, so that many reads are in flight, and
// the hashers take the opened files; when the openers find the files in
// memory again they hand the opening back. Two windows bound what is held
// however large the tree: at most `openAhead` files are open and not yet
// hashed, and at most `window` results wait for the caller. Every thread
// ends inside stop() or the destructor.
//
// The machine may refuse threads, memory or descriptors. As many workers
// start as the system gives, at least one hasher, or the constructor throws
// std::system_error with none left running. A worker that runs out of
// descriptors while the scan holds others waits for one of them to be
// closed; with none held it hands the shortage to the caller in the
// file's result.
class ScanPipeline
{
public:
    // More hashers than this only cost memory and threads.
    static constexpr int maxHashers = 256;

    struct Settings
    {
        int hashers = 2;
        int openers = 16;
        std::size_t window = 32768;
        std::size_t openAhead = 256;
        // Never read two large files at once (a disk with moving heads).
        bool oneLargeFileAtATime = false;
        // Whether hashers open the files themselves while they are found in
        // memory; without it the openers open every file.
        bool hashersOpenFromMemory = true;
    };

    struct Result
    {
        std::string digest;
        // The errno of a file that could not be read; 0 when it was.
        int error = 0;
        // Anything else a worker met: the caller rethrows it when it
        // reaches the file.
        std::exception_ptr failure;
        // The errno of a resource that ran out (ENOMEM, EMFILE, ENFILE):
        // the caller throws for it when it reaches the file.
        int shortage = 0;
        // The file's status when it was opened and once the last byte of
        // its last read was in: they differ when it was written meanwhile.
        FileStamp before;
        FileStamp after;
        // It changed during each of its reads (see hashSteadily): its digest
        // is that of the last.
        bool changing = false;
        // The file was handed in not to be read: it has no digest.
        bool unread = false;
    };

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
    struct Taken
    {
        std::string below;
        Result result;
    };
    std::size_t takeReady(std::vector<Taken> &taken, std::size_t most);

    // No new file is opened, a file being hashed is abandoned at its next
    // piece, and every worker has ended when this returns.
    void stop();

    // For the listing, which opens directories on the calling thread while
    // the workers open files: when an open found no descriptor free, waits
    // until the workers have closed one of theirs. False at once when they
    // hold none, so the shortage is not theirs to end.
    bool waitForDescriptor();

    // How the pipeline is set up for a tree on the device of sourcePath:
    // jobs hashers (0: one per core; at most maxHashers), fewer where the
    // descriptors the process may still open, or the address space it may
    // still map, would not serve them; no hasher at all where not even one
    // fits in that address space.
    static Settings settingsFor(const std::string &sourcePath, int jobs);

    // A file written while it is read has a digest of no content it ever
    // held, and one written behind the read position would pass unseen: the
    // file is read again, from the same descriptor, while its status changed
    // during the read, at most this many times more.
    static constexpr int rereads = 3;
    // Hashes the file open at fd, of size bytes and with the status before
    // as it was opened, into digest, reading it again as above; after ends
    // as the status once the last read was done. True when the file changed
    // during every read. An empty digest once keepGoing answered false;
    // missedCache as for the first read.
    static bool hashSteadily(hashwrapper &hasher, std::string &digest, int fd, long long size,
                             const std::string &path, bool overlap, const std::function<bool()> &keepGoing,
                             bool *missedCache, const FileStamp &before, FileStamp &after);

private:
    struct Slot;

    void openLoop();
    void hashLoop(hashwrapper *hasher);
    // Whom a hasher is to wake once it lets go of the lock.
    struct Wakes
    {
        bool everyone = false;
        bool caller = false;
        bool largeFileFree = false;
    };
    // Under the lock: a hasher hands back the results of the count files
    // from first on; holding, it gives back the descriptor its run held.
    Wakes handBackUnderLock(std::size_t first, std::size_t count, std::vector<Result> &results, bool holding,
                            bool missedCache);
    void sendWakes(const Wakes &wakes);
    Slot &slot(std::size_t index);
    // The lock, tried for a moment before sleeping on it: it is held for
    // well under a microsecond at a time, and a thread put to sleep for it
    // costs two context switches, which take longer, on a virtual machine
    // much longer, than the wait.
    std::unique_lock<std::mutex> locked();
    // The full path of a published file.
    std::string pathOf(std::size_t index) const;
    void pathInto(std::size_t index, std::string &path) const;
    // How many files have been published.
    std::size_t published() const { return pathBase + pathEnds.size(); }
    // Drops the paths of files taken.
    void forgetTaken();
    // Under guard, which it releases: files were taken, which makes room.
    void tookSome(std::unique_lock<std::mutex> &guard);
    // The caller's wait, under guard, until ready(), asking stillWanted
    // every askInterval; false when that answered false or every file
    // handed in has been taken. forResult: the caller waits for a file's
    // result, which the workers may owe only to a batch of room.
    template <typename Ready>
    bool waitAsCaller(std::unique_lock<std::mutex> &guard, Ready ready, bool forResult,
                      const std::function<bool()> &stillWanted);
    // How many files could be claimed for opening now, within both windows.
    std::size_t room() const;
    // How many of them an opener may claim: none while the hashers open.
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
    // A hasher opens the file of index it claimed at path, its status as
    // opened into result.before; -1 with result's error or failure set, or
    // when stopping.
    int openForHashing(std::size_t index, const std::string &path, long long *size, Result &result);
    // Under the lock: a claimed file's descriptor was closed, or its open
    // failed and it never held one.
    void releaseDescriptor(bool wasOpen, bool byHasher);
    // Under the lock: closes the last file opened ahead beyond index, to be
    // opened again by its hasher; false when there is none.
    bool narrowWindow(std::size_t index);

    const std::string nativePrefix;
    const Settings settings;
    const int rootFd;

    std::vector<Slot> ring;
    std::vector<std::unique_ptr<hashwrapper>> hashers;
    std::vector<std::thread> threads;

    // Files added since the last publish, touched by the calling thread only.
    std::string addedPaths;
    std::vector<std::size_t> addedEnds;
    std::vector<bool> addedUnread;

    std::mutex lock;
    std::condition_variable roomToOpen;
    std::condition_variable openedInOrder;
    std::condition_variable hashed;
    std::condition_variable largeFileFree;
    std::condition_variable roomToList;
    std::condition_variable listingWaits;
    // The published paths below the prefix not yet taken, back to back:
    // pathEnds holds where each ends counted from the first path ever
    // published, of which pathBase paths and baseBytes bytes are dropped.
    std::string paths;
    std::vector<std::size_t> pathEnds;
    std::size_t pathBase = 0;
    std::size_t baseBytes = 0;
    // Beside pathEnds: whether each file is not to be read.
    std::vector<bool> unreadFiles;
    bool isUnread(std::size_t index) const { return unreadFiles[index - pathBase]; }
    bool listerWaiting = false;
    std::size_t listAhead = 0;
    bool listed = false;
    std::size_t nextToOpen = 0;
    std::size_t nextToHash = 0;
    std::size_t nextToTake = 0;
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
    // Descriptors held by the workers: files claimed for opening, opened
    // ahead, or being hashed. Released counts the closes, so that a worker
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
