#pragma once

#include "checksumwriter.h"
#include "hashrecord.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The checksums file: one line per record, the digest, one space, the path,
// CR LF. File names are the bytes the file system takes.
class ChecksumFile
{
public:
    // The writer, by its former name.
    using Writer = ChecksumWriter;

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
