#pragma once

#include "scanqueue.h"
#include "uringreader.h"

#include <cstddef>
#include <memory>
#include <string>

class FolderHandle;
class hashwrapper;

// The files of a hasher's run that lie in one folder, opened, and read
// where they are small, a submission to the kernel at a time through
// UringReader instead of a system call each per file. What the batch could
// not do is left to each file's own calls, which do it as they would
// without the batch. A batch serves the hasher that made it; the ring is
// made at the first batch, and given up for the rest of the scan where the
// kernel refuses it, where the ring fails, or where descriptors run short.
class RunBatch
{
public:
    static constexpr std::size_t mostFiles = 32;
    static_assert(mostFiles <= UringReader::batchFiles, "a batch is one submission");

    // Files directly below the tree's root are opened below rootFd.
    explicit RunBatch(int rootFd) : rootFd(rootFd) {}
    // Closes what the batch left open and no file took.
    ~RunBatch();

    RunBatch(const RunBatch &) = delete;
    RunBatch &operator=(const RunBatch &) = delete;

    // Whether batches are worth trying.
    bool usable() const { return !givenUp && rootFd >= 0; }
    // A run of count files (at most mostFiles) begins: none is in the batch.
    void begin(std::size_t count);
    // Puts the run's file i, at path (the tree's part from belowOffset on),
    // into the batch where it lies in the folder of the first file put in.
    // look: its first byte is asked for without waiting, before the reads.
    void add(std::size_t i, const std::string &path, std::size_t belowOffset, FolderHandle &folder, bool look);
    // Opens, reads and hashes the files put in; true when the file looked
    // at was not found in memory.
    bool hash(hashwrapper &hasher);
    // Whether the batch opened the run's file i; then result holds what it
    // found, and fd the descriptor it left open for the file's own reads
    // (the caller's to close), or -1.
    bool take(std::size_t i, ScanQueue::Result &result, int &fd);

private:
    static constexpr std::size_t none = ~std::size_t(0);

    // Whether enough descriptors are free for the ring to take one.
    bool descriptorsToSpare() const;

    const int rootFd;
    std::unique_ptr<UringReader> reader;
    bool givenUp = false;
    std::size_t count = 0;
    std::size_t batched = 0;
    std::size_t lookAt = none;
    int folderFd = -1;
    bool folderRefused = false;
    // The first file's path up to its name, which the others must share.
    std::string folderPart;
    // The place in the batch of each file of the run, or none.
    std::size_t place[mostFiles];
    const char *names[mostFiles];
    UringReader::File files[mostFiles];
};
