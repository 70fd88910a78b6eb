#pragma once

#include "filestamp.h"
#include "readfailure.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What a scan of a tree hands on, and the rules its records are judged by;
// shared by the scan itself (TreeScan) and the engine that runs it
// (HashTools), which names them as its own.
class ScanRecords
{
public:
    // Takes one record of a scan: its path, its digest (both may be moved
    // from), the file's status as it was opened and whether it was written
    // while it was read (see HashTools::changingFiles). False ends the scan
    // at once, with nothing more reported.
    using RecordSink = std::function<bool(std::string &path, std::string &digest, const FileStamp &before,
                                          bool changedWhileRead)>;
    // Takes a file or directory that cannot be read; false ends the scan as
    // a record sink's false does.
    using UnreadableSink = std::function<bool(const ReadFailure &failure)>;

    // What an update did with the stored records.
    struct UpdateCounts
    {
        std::size_t added = 0;
        std::size_t rehashed = 0;
        std::size_t removed = 0;
        std::size_t kept = 0;
        // Files whose content differs although they were not written since
        // the reference (mayBeDamaged): their stored digests stay.
        struct HeldBack
        {
            std::string path;
            std::string stored;
            std::string current;
        };
        std::vector<HeldBack> heldBack;
        // Files that would have been held back but were named to accept
        // (HashTools::setAccepted): their current digests are stored.
        std::vector<HeldBack> accepted;
    };

    // An edit may be dated up to this much before the reference on a file
    // system with coarse timestamps (FAT keeps two seconds).
    static constexpr long long timeTolerance = 2000000000LL;

    // The one rule that tells damage from an edit, for verify and for
    // update's hold-back alike: whether a file whose current digest differs
    // from its stored one may be damaged, judged by its status as it was
    // opened. It may be when the file did not change while it was read and
    // says it was not written after reference less the tolerance. Its
    // modification time says so, unless that lies later than scanStart plus
    // the tolerance: a clock that was wrong when the file was written (a
    // camera's) is no witness of an edit, and the inode time, which no
    // program can set, speaks instead. Digests that differ only in letter
    // case hold the same content, which is never damage.
    static bool mayBeDamaged(const std::string &current, const std::string &stored, const FileStamp &before,
                             bool changedWhileRead, long long reference, long long scanStart);
    // A digest as create writes it: hexadecimal digits lower-cased; any
    // other text as it is.
    static std::string digestAsWritten(std::string digest);

    // The slice, 1 to slices, a record path falls into: FNV-1a (64 bit) of
    // the path's bytes modulo slices, plus one. Checksums files outlive
    // program versions, and a slice must keep its files across them: this
    // is never to change.
    static unsigned sliceOf(const std::string &recordPath, unsigned slices);
};
