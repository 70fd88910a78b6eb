#pragma once

#include "scanrecords.h"

#include <cstddef>
#include <set>
#include <string>

class StoredIndex;

// Which of the files listed a scan reads. Without the records of an earlier
// checksums file, every one: a create or a whole verify. With them, an
// update reads the files they do not hold, those written or changed after
// they were settled, and those named to accept, and keeps the stored digest
// of the others; a verify of one slice reads the files the records hold
// that fall into it, and those they do not hold.
class ReadPlan
{
public:
    // known: the earlier records, or none; settled, accepted: with update;
    // slices not 0: a verify of one slice.
    ReadPlan(const StoredIndex *known, const std::set<std::string> *accepted, long long settled, unsigned slice,
             unsigned slices);

    // Once the tree is open: what stands before the path below the source
    // directory in record paths and in native paths, and the source
    // directory's descriptor, -1 where there is none.
    void setTree(const std::string &recordPrefix, const std::string &nativePrefix, int rootFd);

    // Whether the file below the source directory is to be read; recordPath
    // is room for its record path.
    bool toBeRead(const char *below, std::size_t length, std::string &recordPath) const;

    // The digest of the file of record that was not read: the stored one, as
    // an update writes it back, which counts it kept.
    std::string keptDigest(std::size_t record, ScanRecords::UpdateCounts *update) const;

private:
    const StoredIndex *const known;
    const std::set<std::string> *const accepted;
    const long long settled;
    const unsigned slice;
    const unsigned slices;
    std::string prefix;
    std::string nativePrefix;
    int rootFd = -1;
};
