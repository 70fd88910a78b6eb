#include "readplan.h"

#include "filestamp.h"
#include "storedindex.h"

#include <utility>

#if defined(ORVALEN_POSIX)
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

// The status of a listed file, looked up without opening it.
FileStamp stampBelow(int rootFd, const std::string &nativePrefix, const char *below, std::size_t length)
{
#if defined(ORVALEN_POSIX)
    struct stat info;
    const int got = rootFd >= 0 ? ::fstatat(rootFd, std::string(below, length).c_str(), &info, 0)
                                : ::stat((nativePrefix + std::string(below, length)).c_str(), &info);
    if (got == 0)
        return FileStamp::of(info);
#else
    (void)rootFd;
    (void)nativePrefix;
    (void)below;
    (void)length;
#endif
    return FileStamp();
}

} // namespace

ReadPlan::ReadPlan(const StoredIndex *known, const std::set<std::string> *accepted, long long settled,
                   unsigned slice, unsigned slices)
    : known(known), accepted(accepted), settled(settled), slice(slice), slices(slices)
{
}

void ReadPlan::setTree(const std::string &recordPrefix, const std::string &nativePrefix, int rootFd)
{
    prefix = recordPrefix;
    this->nativePrefix = nativePrefix;
    this->rootFd = rootFd;
}

bool ReadPlan::toBeRead(const char *below, std::size_t length, std::string &recordPath) const
{
    if (!known)
        return true;
    recordPath = prefix;
    recordPath.append(below, length);
    if (known->find(recordPath.data(), recordPath.size()) == StoredIndex::none)
        return true;
    if (slices != 0)
        return ScanRecords::sliceOf(recordPath, slices) == slice;
    if (accepted && accepted->count(recordPath) != 0)
        return true;
    // The inode time too: restoring an old modification time after a write
    // leaves it behind, which no bit flip does.
    const FileStamp now = stampBelow(rootFd, nativePrefix, below, length);
    return !(now.known && now.modified <= settled && now.changed <= settled);
}

std::string ReadPlan::keptDigest(std::size_t record, ScanRecords::UpdateCounts *update) const
{
    // No status: an unread file has no difference to judge.
    if (update)
        ++update->kept;
    std::string digest = known->digest(record);
    if (update)
        digest = ScanRecords::digestAsWritten(std::move(digest));
    return digest;
}
