#include "checksumwriter.h"

#include "checksumline.h"
#include "descriptor.h"
#include "folderwalk.h"
#include "hashfactory.h"
#include "hashwrapper.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr std::size_t ioChunk = 1 << 20;

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// How far a time kept by the file system may lie from the one given: the
// 2 s that verify allows for coarse time stamps.
constexpr long long timeTolerance = 2000000000LL;

// Where the lines of a file that is rewritten in place wait for the commit:
// a file without a name in the temporary folder, so that memory does not
// grow with the tree and the old file stays whole until then.
int openSpool()
{
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
#ifdef O_TMPFILE
    const int unnamed = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0)
        return unnamed;
#endif
    QByteArray pattern = folder + "/.orvalen-spool.XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return -1;
    (void)::unlink(pattern.constData());
    (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool sameTime(const struct timespec &a, const struct timespec &b)
{
    const long long apart = (static_cast<long long>(a.tv_sec) - b.tv_sec) * 1000000000LL + (a.tv_nsec - b.tv_nsec);
    return apart <= timeTolerance && apart >= -timeTolerance;
}

// The answers of a file system that keeps no Unix modes or owners (exFAT,
// FAT, many CIFS and NTFS mounts), or of an owner change only root may make.
// The file is written all the same; it just keeps what the mount gives it.
bool refusedAttribute(int error)
{
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == EINVAL;
}

int changeMode(int fd, unsigned int mode)
{
    return ::fchmod(fd, static_cast<mode_t>(mode));
}

int changeOwner(int fd, unsigned int owner, unsigned int group)
{
    return ::fchown(fd, static_cast<uid_t>(owner), static_cast<gid_t>(group));
}

int changeTimes(int fd, const struct timespec times[2])
{
    return ::futimens(fd, times);
}

std::string randomSuffix()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (char &c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
    return suffix;
}

} // namespace

// The new content goes to a temporary file beside the old one, which is
// replaced only once every byte has been written and synced: a full disk or
// a crash leaves the previous checksums file as it was.
struct ChecksumWriter::State
{
    std::string fileName;
    int error = 0;
    bool prepared = false;
    bool committed = false;
    Descriptor directory;       // the folder the file goes in, opened once
    std::string name;           // its name in that folder
    Descriptor temporary;
    std::string temporaryName;
    // Where the folder takes no new file: the file itself, to be rewritten
    // from temporary (then a spool without a name) at commit.
    Descriptor inPlace;
    // Lines appended and not yet written.
    std::string pending;
    // The digest of the bytes written to the temporary file, where one was
    // asked for before the first line: the file's own once committed.
    std::string digestAlgorithm;
    std::unique_ptr<hashwrapper> digester;
    std::string digest;
    off_t writtenBytes = 0;
    // An append failed: what was appended is gone, so nothing may follow.
    bool broken = false;
    // The temporary file's own time stamp: when the scan began, by the
    // clock of the file system that keeps the checksums file.
    struct timespec started = {0, UTIME_OMIT};
    mode_t newMode = 0644;
    ModeCall modeCall = &changeMode;
    OwnerCall ownerCall = &changeOwner;
    TimesCall timesCall = &changeTimes;
    bool timeKept = false;
    bool foundAtName = false;
    std::string committedPath;

    void discard()
    {
        if (!temporaryName.empty() && !committed)
            (void)::unlinkat(directory.get(), temporaryName.c_str(), 0);
        temporaryName.clear();
        temporary.reset();
        inPlace.reset();
        directory.reset();
        pending.clear();
        digester.reset();
        digest.clear();
        writtenBytes = 0;
        prepared = false;
        committed = false;
    }
    bool fail(int reason)
    {
        discard();
        error = reason;
        return false;
    }
    bool writePending();
    bool prepareInPlace(Descriptor &folder, const struct stat &entry, int refusal);
    bool rewriteInPlace();
    bool settle(int fd);
};

bool ChecksumWriter::prepare()
{
    State &s = *state;
    if (s.prepared)
        return true;
    s.discard();
    s.error = 0;

    // A link to a checksums file stays a link: its target is replaced, or
    // created where it leads nowhere yet.
    Descriptor directory;
    std::string name;
    struct stat entry = {};
    bool exists = false;
    if (const int error = FolderWalk::walk(s.fileName, directory, name, entry, exists))
        return s.fail(error);
    s.name = name;
    if (exists) {
        // Directories, FIFOs and devices are no checksums files; and a file
        // we may not write stays as it is.
        if (S_ISDIR(entry.st_mode))
            return s.fail(EISDIR);
        if (!S_ISREG(entry.st_mode))
            return s.fail(EINVAL);
        struct stat folderInfo;
        if (::fstat(directory.get(), &folderInfo) != 0)
            return s.fail(errno);
        if (FolderWalk::plantedByOther(folderInfo, entry))
            return s.fail(EACCES);
        if (::faccessat(directory.get(), name.c_str(), W_OK, AT_EACCESS) != 0)
            return s.fail(errno);
    }

    // Read while no other thread of ours creates files.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    s.newMode = 0666 & ~mask;

    // Creating the temporary file now is the one sure test that the folder
    // takes a new file. A dot name: a scan of the same tree does not list it.
    for (int attempt = 0;; ++attempt) {
        std::string temporaryName = '.' + name + '.' + randomSuffix();
        const int fd = ::openat(directory.get(), temporaryName.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            s.directory.reset(directory.release());
            s.temporary.reset(fd);
            struct stat created;
            if (::fstat(fd, &created) == 0)
#if defined(__APPLE__)
                s.started = created.st_mtimespec;
#else
                s.started = created.st_mtim;
#endif
            s.temporaryName = std::move(temporaryName);
            break;
        }
        if (errno == EEXIST && attempt < 100)
            continue;
        if (exists && (errno == EACCES || errno == EPERM))
            return s.prepareInPlace(directory, entry, errno);
        return s.fail(errno);
    }
    s.prepared = true;
    return true;
}

// A file that may be written in a folder that takes no new one: the old way
// of writing a checksums file, truncating and writing it where it stands,
// is the only one left. The file is opened now, so that the commit writes
// the very file that was checked.
bool ChecksumWriter::State::prepareInPlace(Descriptor &folder, const struct stat &entry, int refusal)
{
    // Not blocking, in case a FIFO took the file's place since the look.
    const int fd = ::openat(folder.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    inPlace.reset(fd);
    struct stat opened;
    if (::fstat(fd, &opened) != 0)
        return fail(errno);
    if (!S_ISREG(opened.st_mode) || opened.st_dev != entry.st_dev || opened.st_ino != entry.st_ino)
        return fail(refusal);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    temporary.reset(openSpool());
    if (temporary.get() < 0)
        return fail(errno);
    // No new file stamps the start here; the system's clock stands in for
    // the file system's.
    (void)::clock_gettime(CLOCK_REALTIME, &started);
    directory.reset(folder.release());
    prepared = true;
    return true;
}

bool ChecksumWriter::append(const std::string &path, const std::string &digest)
{
    State &s = *state;
    if (s.broken)
        return false;
    s.broken = true;
    if (!ChecksumLine::fits(path, digest)) {
        s.discard();
        s.error = 0;
        return false;
    }
    if (s.committed)
        return s.fail(EINVAL);
    if (!s.prepared && !prepare())
        return false;
    // Room for a whole chunk and one more line, taken once, so that no line
    // grows the buffer.
    if (s.pending.capacity() < ioChunk)
        s.pending.reserve(ioChunk + 4096);
    ChecksumLine::append(s.pending, path, digest);
    if (s.pending.size() >= ioChunk && !s.writePending())
        return s.fail(errno);
    s.broken = false;
    return true;
}

bool ChecksumWriter::State::writePending()
{
    if (!writeAll(temporary.get(), pending.data(), pending.size()))
        return false;
#if defined(SYNC_FILE_RANGE_WRITE)
    // The disk takes each chunk while the scan goes on, so that the sync at
    // the commit, when nothing else is left to do, waits for the last one
    // only. A spool never goes to the disk on purpose.
    if (inPlace.get() < 0 && pending.size() >= ioChunk)
        (void)::sync_file_range(temporary.get(), writtenBytes, static_cast<off_t>(pending.size()),
                                SYNC_FILE_RANGE_WRITE);
#endif
    writtenBytes += static_cast<off_t>(pending.size());
    if (!digestAlgorithm.empty() && !digester) {
        digester.reset(hashfactory().makeWrapper(digestAlgorithm));
        if (digester)
            digester->startDigest();
    }
    if (digester && !pending.empty())
        digester->addData(reinterpret_cast<const unsigned char *>(pending.data()),
                          static_cast<unsigned int>(pending.size()));
    pending.clear();
    return true;
}

// Gives the file written the scan's start as its times, syncs it, and
// learns whether the file system kept that time. Both times are given:
// exfat-fuse takes a time left out (UTIME_OMIT) for "now", and the
// modification time with it.
bool ChecksumWriter::State::settle(int fd)
{
    // The file's time says when its records were taken, not when they were
    // written: a file edited during the scan is later than it, and counts
    // as edited rather than damaged. A file system that refuses it still
    // gets its checksums file.
    const struct timespec times[2] = {started, started};
    (void)timesCall(fd, times);
    if (::fsync(fd) != 0)
        return false;
    struct stat written;
    timeKept = started.tv_nsec != UTIME_OMIT && ::fstat(fd, &written) == 0
#if defined(__APPLE__)
               && sameTime(written.st_mtimespec, started);
#else
               && sameTime(written.st_mtim, started);
#endif
    return true;
}

// Truncates the file and writes the spooled lines into it. Between the two
// the file is incomplete: a failure here, or a crash, leaves it so.
bool ChecksumWriter::State::rewriteInPlace()
{
    const int target = inPlace.get();
    if (::ftruncate(target, 0) != 0 || ::lseek(target, 0, SEEK_SET) != 0)
        return fail(errno);
    std::vector<char> buffer(ioChunk);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(temporary.get(), buffer.data(), buffer.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(errno);
        if (got == 0)
            break;
        if (!writeAll(target, buffer.data(), std::size_t(got)))
            return fail(errno);
        at += got;
    }
    if (!settle(target))
        return fail(errno);
    // The spool goes; the file itself is what committedFile() gives.
    temporary.reset(inPlace.release());
    committed = true;
    return true;
}

bool ChecksumWriter::commit()
{
    State &s = *state;
    if (s.broken)
        return false;
    if (s.committed)
        return s.fail(EINVAL);
    if (!prepare())
        return false;
    const int out = s.temporary.get();
    if (!s.writePending())
        return s.fail(errno);
    s.pending = std::string();

    if (s.inPlace.get() >= 0) {
        if (!s.rewriteInPlace())
            return false;
    } else {
        // Owner and mode come from the entry that is replaced now, not from
        // whatever the name showed before the scan; only a regular file is
        // replaced, never a link or a folder put there meanwhile, nor a file
        // another user put in a shared folder.
        mode_t mode = s.newMode;
        struct stat entry;
        if (::fstatat(s.directory.get(), s.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!S_ISREG(entry.st_mode))
                return s.fail(S_ISDIR(entry.st_mode) ? EISDIR : EEXIST);
            struct stat folderInfo;
            if (::fstat(s.directory.get(), &folderInfo) != 0)
                return s.fail(errno);
            if (FolderWalk::plantedByOther(folderInfo, entry))
                return s.fail(EACCES);
            mode = entry.st_mode & 07777;
            // Root replacing another user's file gives it back to its owner.
            if ((entry.st_uid != ::geteuid() || entry.st_gid != ::getegid())
                && s.ownerCall(out, entry.st_uid, entry.st_gid) != 0 && !refusedAttribute(errno))
                return s.fail(errno);
        } else if (errno != ENOENT) {
            return s.fail(errno);
        }
        if (s.modeCall(out, mode) != 0 && !refusedAttribute(errno))
            return s.fail(errno);
        if (!s.settle(out))
            return s.fail(errno);
        if (::renameat(s.directory.get(), s.temporaryName.c_str(), s.directory.get(), s.name.c_str()) != 0)
            return s.fail(errno);
        s.committed = true;
        s.temporaryName.clear();
        // The rename itself reaches the disk with the directory.
        (void)::fsync(s.directory.get());
    }

    if (s.digester)
        s.digester->finishDigestInto(s.digest);

    // The folder was opened once and written through its descriptor: moved
    // meanwhile, it took the file along, and the name as given now leads
    // elsewhere or nowhere.
    struct stat placed;
    struct stat named;
    s.foundAtName = ::fstat(s.temporary.get(), &placed) == 0 && ::stat(s.fileName.c_str(), &named) == 0
                    && placed.st_dev == named.st_dev && placed.st_ino == named.st_ino;
    s.committedPath.clear();
    if (!s.foundAtName) {
        const std::string link = "/proc/self/fd/" + std::to_string(s.directory.get());
        std::string folder(4096, '\0');
        const ssize_t got = ::readlink(link.c_str(), &folder[0], folder.size());
        if (got > 0 && std::size_t(got) < folder.size() && folder[0] == '/') {
            folder.resize(std::size_t(got));
            s.committedPath = folder + (folder == "/" ? "" : "/") + s.name;
        }
    }
    return true;
}

void ChecksumWriter::digestAs(const std::string &algorithm)
{
    // Every line holds at least a digest: nothing appended yet is nothing
    // pending and nothing written.
    if (state->pending.empty() && state->writtenBytes == 0 && !state->committed)
        state->digestAlgorithm = algorithm;
}

const std::string &ChecksumWriter::writtenDigest() const
{
    static const std::string none;
    return state->committed ? state->digest : none;
}

int ChecksumWriter::committedFile() const
{
    return state->committed ? state->temporary.get() : -1;
}

bool ChecksumWriter::timeKept() const
{
    return state->committed && state->timeKept;
}

bool ChecksumWriter::foundAtName() const
{
    return state->committed && state->foundAtName;
}

std::string ChecksumWriter::committedPath() const
{
    return state->committed ? state->committedPath : std::string();
}

int ChecksumWriter::temporaryFolder() const
{
    return state->temporaryName.empty() ? -1 : state->directory.get();
}

const char *ChecksumWriter::temporaryName() const
{
    return state->temporaryName.empty() ? nullptr : state->temporaryName.c_str();
}

void ChecksumWriter::setAttributeCalls(ModeCall mode, OwnerCall owner)
{
    state->modeCall = mode ? mode : &changeMode;
    state->ownerCall = owner ? owner : &changeOwner;
}

void ChecksumWriter::setTimesCall(TimesCall times)
{
    state->timesCall = times ? times : &changeTimes;
}

ChecksumWriter::ChecksumWriter(const std::string &fileName) : state(std::make_unique<State>())
{
    state->fileName = fileName;
}

ChecksumWriter::~ChecksumWriter()
{
    state->discard();
}

bool ChecksumWriter::refuse(int reason)
{
    return state->fail(reason);
}

int ChecksumWriter::error() const
{
    return state->error;
}

const std::string &ChecksumWriter::fileName() const
{
    return state->fileName;
}
