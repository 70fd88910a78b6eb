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
// The scan does not use it: on Linux 6.18 the requests cost the kernel about
// what the system calls they replace cost, once the two looks at the status
// are taken (bench/uring_bench.cpp, beside the plain path).

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

    // For tests: readers made from now on find io_uring refused with this
    // errno, as by a seccomp filter; 0 lets them try again.
    static void refuseSetupForTesting(int error);

private:
    struct Ring;

    void hashBatch(const std::string *paths, std::size_t count, hashwrapper &hasher, File *files);
    void hashPlain(const std::string &path, hashwrapper &hasher, File &file) const;
    void hashFromDescriptor(int fd, const std::string &path, hashwrapper &hasher, File &file) const;

    const int dirFd;
    int refused = 0;
    std::unique_ptr<Ring> ring;
    std::unique_ptr<unsigned char[]> buffer;
};
