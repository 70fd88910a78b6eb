#pragma once

#include "hashrecord.h"

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The checksums file: one line per record, the digest, one space, the path,
// CR LF. File names are the bytes the file system takes.
class ChecksumFile
{
public:
    // Replaces one checksums file in two steps: prepare() decides, before
    // the long scan, where the file goes and whether it can go there;
    // commit() writes the records beside it and puts them in its place.
    // Both act on what prepare() found, not on the name again, so a link
    // swapped in between cannot send the output elsewhere. Whatever has not
    // been committed is removed with the writer.
    class Writer
    {
    public:
        explicit Writer(const std::string &fileName);
        ~Writer();
        Writer(const Writer &) = delete;
        Writer &operator=(const Writer &) = delete;

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
        struct State;
        std::unique_ptr<State> state;
    };

    // Replaces fileName as a whole or not at all, keeping an existing file's
    // permission bits (and, where allowed, its owner). False when nothing
    // was replaced: the file could not be written, or a record would not
    // read back as it is (a path with a line feed, a digest that is empty or
    // holds white space).
    static bool write(const std::string &fileName, const std::vector<HashRecord> &records);

    // Appends the records of fileName; false, with records as they were,
    // when it is no regular file, cannot be read, or is not empty yet holds
    // no record line (64 hexadecimal digits, a space or a tab, the path):
    // such a file is some other text, and checking a tree against it would
    // only call every file new. Once one line is a record, the others are
    // read as they come: blank lines are skipped, a byte order mark at the
    // start is ignored, a digest alone on its line stands for an empty path,
    // and a CR before a line end (or at the very end of the file) is dropped.
    static bool read(const std::string &fileName, std::vector<HashRecord> &records);
    // Takes one record as read: its path and its digest, each as bytes
    // that last only for the call.
    using RecordTaker = std::function<void(const char *path, std::size_t pathLength, const char *digest,
                                           std::size_t digestLength)>;
    // read, handing each record to take as it is read. Where it fails some
    // records may have been taken already.
    static bool read(const std::string &fileName, const RecordTaker &take);

    enum class Verdict {
        Usable,          // empty, or holds a record line
        CannotRead,      // error: why (0 for a FIFO, socket or device)
        NotChecksumsFile
    };
    // What read would make of fileName, found out from its start: a
    // checksums file's first line is a record, so this reads no further
    // than that unless the file is something else.
    static Verdict inspect(const std::string &fileName, int &error);

private:
    static bool readOpen(std::FILE *file, std::vector<char> &buffer, const RecordTaker &take);
};
