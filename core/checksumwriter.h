#pragma once

#include "hashrecord.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

// Replaces one checksums file, in the line format ChecksumFile reads, in two
// steps: prepare() decides, before the long scan, where the file goes and
// whether it can go there; commit() writes the records beside it and puts
// them in its place. Both act on what prepare() found, not on the name
// again, so a link swapped in between cannot send the output elsewhere.
// Whatever has not been committed is removed with the writer. The build
// picks one implementation: checksumwriter_posix.cpp, acting on
// descriptors, or checksumwriter_qt.cpp, through QSaveFile, where there are
// none.
class ChecksumWriter
{
public:
    explicit ChecksumWriter(const std::string &fileName);
    ~ChecksumWriter();
    ChecksumWriter(const ChecksumWriter &) = delete;
    ChecksumWriter &operator=(const ChecksumWriter &) = delete;

    // False, with error() telling why, when the file cannot be written
    // where it is asked for: its folder is missing or takes no new file,
    // the name is a folder or no regular file, a regular file there may
    // not be written, or the path leads through a link, or to a file,
    // that another user put in a shared folder (sticky and writable for
    // all) and the caller may not follow or write. Where the folder
    // takes no new file but the file there may be written, the file is
    // rewritten where it stands at commit: not atomic.
    bool prepare();
    // Writes, syncs and replaces as a whole or not at all, keeping the
    // permission bits and owner of the regular file it replaces where
    // the file system allows them to be set. False, with error() set and
    // any old file unchanged, when nothing was replaced. The first call
    // to a writer not yet prepared prepares it.
    bool commit(const std::vector<HashRecord> &records);
    // The same in steps, for records that arrive one by one: each
    // append writes a line to the temporary file (the first prepares
    // the writer), and commit() puts the file in place. An append that
    // fails, for a record that would not read back or a full disk,
    // discards the file and makes commit() fail.
    bool append(const std::string &path, const std::string &digest);
    bool commit();
    // The system's reason for the last failure (an errno value), 0
    // when there is none to give (a record that would not read back).
    int error() const;
    const std::string &fileName() const;
    // The folder (a descriptor) and name of the temporary file while
    // there is one, for a signal handler that ends the process at once;
    // -1 and nullptr otherwise.
    int temporaryFolder() const;
    const char *temporaryName() const;
    // Asks for the digest, in an algorithm hashfactory knows, of the bytes
    // written: once committed, the file's own, which then need not be
    // read back. Heeded only before the first append.
    void digestAs(const std::string &algorithm);
    // That digest once committed; empty before, or where none was asked
    // for in time.
    const std::string &writtenDigest() const;
    // The file as it stands once committed, open for reading from its
    // start; -1 before or where there is none. The writer owns it.
    int committedFile() const;
    // Once committed: whether the file system kept the time given to
    // the file, the start of the scan, within the 2 s that verify
    // allows. Where it did not, files edited during the run cannot be
    // told from damaged ones.
    bool timeKept() const;
    // Once committed: whether the name as given still leads to the file
    // put in place. False when its folder was moved or replaced while
    // it was written: the file is then at committedPath(), the folder's
    // name as the system gives it now and the file's name (empty where
    // that cannot be had).
    bool foundAtName() const;
    std::string committedPath() const;

    // Where a test must see a refused mode or owner change, these stand
    // for fchmod and fchown.
    using ModeCall = int (*)(int fd, unsigned int mode);
    using OwnerCall = int (*)(int fd, unsigned int owner, unsigned int group);
    void setAttributeCalls(ModeCall mode, OwnerCall owner);
    // And this for futimens, where a test must see a time the file
    // system does not keep.
    using TimesCall = int (*)(int fd, const struct timespec times[2]);
    void setTimesCall(TimesCall times);

private:
    // Drops what was written, with reason as error(); always false.
    bool refuse(int reason);

    struct State;
    std::unique_ptr<State> state;
};
