#pragma once

#include "filepieces.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#if defined(ORVALEN_POSIX)
struct stat;
#endif

// Common face of the five digest algorithms. A concrete wrapper supplies the
// first five operations; the file, string and self-test operations are built
// once on top of them here. The order of the virtual operations is part of
// the interface and must not change.
class hashwrapper
{
protected:
    std::string testText;

public:
    // digestOfFile reads what must come from the device in pieces of this
    // many bytes: large enough that the system call per piece costs nothing
    // beside the hashing, small enough to stay in the second-level cache.
    static constexpr unsigned int fileChunkSize = filepieces::chunkSize;

    hashwrapper();

    virtual std::string finishDigest() = 0;
    virtual std::string digestToText(unsigned char *raw) = 0;
    virtual void addData(const unsigned char *data, unsigned int length) = 0;
    virtual void startDigest() = 0;
    virtual std::string expectedTestDigest() = 0;

    virtual ~hashwrapper();

    // Throws hlException code 2 when the digest of testText is not the
    // expected one.
    virtual void selfTest();
    virtual std::string digestOfString(std::string text);
    // Throws hlException code 1 when the file cannot be opened, is not a
    // regular file (a FIFO would block and a device may never end), or a read
    // fails part-way: a digest of the bytes read so far would look valid.
    virtual std::string digestOfFile(std::string path);

    // Asked between pieces of a file; answering false abandons it.
    using KeepGoing = std::function<bool()>;
    // Files of at least this size are read on a second thread while the
    // first one hashes, from the first piece that is not in memory on.
    static constexpr long long overlapFileSize = filepieces::overlapFileSize;

    // The text of hlException code 1 for path.
    static std::string cannotReadMessage(const std::string &path);

    // digestOfFile that gives up, with an empty result, once keepGoing
    // answers false.
    std::string digestOfFileWhile(const std::string &path, const KeepGoing &keepGoing);
#if defined(ORVALEN_POSIX)
    // Opens path as digestOfFile does; -1 with errno set when it is not a
    // regular file that can be read. size receives the file's size.
    static int openRegularFile(const std::string &path, long long *size);
    // openRegularFile for the file at path whose part from belowOffset on is
    // relative to the directory open at dirFd; it is opened from there, so
    // that neither a changed working directory nor a path longer than the
    // system takes in one call gets in the way. With a negative dirFd the
    // whole path is opened as it stands.
    static int openRegularFileBelow(int dirFd, const std::string &path, std::size_t belowOffset,
                                    long long *size);
    // The same, with the file's status as it was opened, from the look at
    // it that the open takes anyway; its size is status->st_size.
    static int openRegularFileBelow(int dirFd, const std::string &path, std::size_t belowOffset,
                                    struct stat *status);
    // The status of the file open at fd into status; 0 where it is a
    // regular file, else the errno that names why it cannot be hashed (that
    // of fstat, EISDIR for a folder, EINVAL for anything else).
    static int statRegular(int fd, struct stat *status);
    // Opens the folder at path, relative to dirFd, only to pass through it
    // to what lies below, never to read it; -1 with errno set.
    static int openPassage(int dirFd, const char *path);
    // digestOfFileWhile for a file opened as openRegularFileBelow opens it;
    // a failure names the whole path.
    std::string digestOfFileBelowWhile(int dirFd, const std::string &path, std::size_t belowOffset,
                                       const KeepGoing &keepGoing);
    // Reads from offset only what is in memory already; -1 where nothing
    // is, or where the kernel cannot tell without waiting for the disk. A
    // miss starts the kernel's read of those bytes.
    static long readWithoutWaiting(int fd, unsigned char *buffer, std::size_t length,
                                   long long offset);
    // Hashes the regular file open at fd from its start; the caller keeps
    // and closes fd. size is what openRegularFile gave. An empty result once
    // keepGoing answered false; hlException code 1 naming path when a read
    // fails. With missedCache, the first read does not wait for the disk and
    // *missedCache tells whether it would have had to. overlap allows the
    // second thread for what is not in memory.
    std::string digestOfOpenFile(int fd, long long size, const std::string &path, bool overlap,
                                 const KeepGoing &keepGoing = KeepGoing(),
                                 bool *missedCache = nullptr);
    // The same into digest, whose room is kept: hashing a million small
    // files then allocates no text for their digests.
    void digestOfOpenFile(std::string &digest, int fd, long long size, const std::string &path,
                          bool overlap, const KeepGoing &keepGoing = KeepGoing(),
                          bool *missedCache = nullptr);
#endif

    // finishDigest into text, which a wrapper may fill without allocating.
    virtual void finishDigestInto(std::string &text);

    // The digests of count whole messages, as digestOfString gives them,
    // each into its string; a wrapper may hash them side by side. Leaves no
    // digest running.
    virtual void digestsInto(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                             std::string *const *digests);

private:
    // The piece a file is read into, kept from file to file.
    std::unique_ptr<unsigned char[]> readBuffer;
};
