#pragma once

#include "filestamp.h"

#include <cstddef>
#include <memory>
#include <string>

class hashwrapper;

// Hashes small files below an open directory with their opens, reads and
// closes handed to the kernel a batch at a time through io_uring, instead
// of one system call each. The status the engine needs, as the file was
// opened and once its last byte was read, comes from fstat(2): io_uring's
// own statx always goes through the kernel's worker threads, which costs
// more than the calls it saves. A file that is too large for the batch's
// buffer, not a regular file, or that was written while it was read is
// hashed the plain way from the descriptor the batch opened, with the same
// reads again, as the scan hashes every file.
//
// Where io_uring is missing or refused (the kernel lacks it or an operation,
// io_uring_disabled, a seccomp filter), every file takes the plain path:
// open, status, read, status, close. A reader serves the thread that made
// it; it holds its ring and its buffer until it is destroyed.
//
// The scan's hashers take the runs of files they claim through
// hashOpened(), and read what it leaves open their own way.

class UringReader
{
public:
    // Files a submission opens, reads and closes.
    static constexpr std::size_t batchFiles = 64;
    // Files smaller than this are read by the batch, one read each, back
    // to back in a buffer of batchBytes (one cache-friendly stretch, not
    // pieces a power of two apart, which would share the cache's sets); a
    // larger file, or one that no longer fits, is hashed the plain way.
    static constexpr std::size_t pieceBytes = 64 * 1024;
    static constexpr std::size_t batchBytes = 256 * 1024;

    struct File
    {
        std::string digest;
        // The errno of a file that could not be opened or read; 0 when it
        // was, and the digest holds its content's.
        int error = 0;
        // The status as the file was opened and once its last byte was in.
        FileStamp before;
        FileStamp after;
        // It changed during each of its reads: the digest is that of the last.
        bool changing = false;
        // Left by hashOpened() to its caller, who reads and closes it: the
        // file is open at fd, with its status as opened in before.
        int fd = -1;
        // Not opened by hashOpened(): its path is too long for one call, its
        // open would have to wait, or no descriptor was free; error holds
        // the errno of the open that was refused, if any.
        bool untried = false;
    };

    // dirFd stays the caller's; the paths are taken below it.
    explicit UringReader(int dirFd);
    ~UringReader();

    UringReader(const UringReader &) = delete;
    UringReader &operator=(const UringReader &) = delete;

    // Whether the files go through io_uring; else the errno of the refusal.
    bool batched() const { return ring != nullptr; }
    int refusal() const { return refused; }

    // Hashes the count files named by paths into files, in the same order.
    // A failure to hash that is not the file's own (memory) is thrown, with
    // every descriptor of the batch closed.
    void hash(const std::string *paths, std::size_t count, hashwrapper &hasher, File *files);

    // Opens the count files (at most batchFiles) named below dirFd in one
    // submission, reads those smaller than a piece in one more, and hashes
    // each that held still from the batch's buffer. Any other file is left
    // open or untried (see File), or failed. lookAt: the place of a file
    // whose first byte is asked for without waiting before the reads; how
    // that went, missed the disk or not, goes to missedCache. Throws as
    // hash(), with no descriptor left open. Only where batched().
    void hashOpened(int dirFd, const char *const *names, std::size_t count, hashwrapper &hasher, File *files,
                    std::size_t lookAt, bool *missedCache);

    // For tests: the batches hashOpened() has submitted in this process.
    static unsigned long long batchesForTesting();
    // For tests: readers made from now on find io_uring refused with this
    // errno, as by a seccomp filter; 0 lets them try again.
    static void refuseSetupForTesting(int error);

private:
    struct Ring;

    void hashPlain(const std::string &path, hashwrapper &hasher, File &file) const;
    void hashFromDescriptor(int fd, const std::string &path, hashwrapper &hasher, File &file) const;

    const int dirFd;
    int refused = 0;
    std::unique_ptr<Ring> ring;
    std::unique_ptr<unsigned char[]> buffer;
};
