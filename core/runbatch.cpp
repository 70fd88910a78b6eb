#include "runbatch.h"

#include "folderhandle.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

RunBatch::~RunBatch()
{
    for (UringReader::File &file : files)
        if (file.fd >= 0)
            ::close(file.fd);
}

void RunBatch::begin(std::size_t files)
{
    count = std::min(files, mostFiles);
    batched = 0;
    lookAt = none;
    folderFd = -1;
    folderRefused = false;
    std::fill(place, place + count, none);
}

void RunBatch::add(std::size_t i, const std::string &path, std::size_t belowOffset, FolderHandle &folder,
                   bool look)
{
    if (i >= count || givenUp || folderRefused)
        return;
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string::npos || slash < belowOffset ? belowOffset : slash + 1;
    if (batched == 0) {
        folderFd = nameAt == belowOffset ? rootFd : folder.folderOf(path, belowOffset);
        // A folder that cannot be opened is left to the files' own opens,
        // which say why.
        folderRefused = folderFd < 0;
        if (folderRefused)
            return;
        folderPart.assign(path, 0, nameAt);
    } else if (folderPart.size() != nameAt || path.compare(0, nameAt, folderPart) != 0) {
        return;
    }
    if (look && lookAt == none)
        lookAt = batched;
    names[batched] = path.c_str() + nameAt;
    place[i] = batched++;
}

bool RunBatch::hash(hashwrapper &hasher)
{
    if (batched == 0 || givenUp)
        return false;
    if (!reader) {
        givenUp = !descriptorsToSpare();
        if (!givenUp) {
            reader = std::make_unique<UringReader>(rootFd);
            givenUp = !reader->batched();
        }
    }
    bool missed = false;
    if (!givenUp) {
        try {
            reader->hashOpened(folderFd, names, batched, hasher, files, lookAt, &missed);
            return missed;
        } catch (...) {
            // The ring failed; it left nothing open.
            givenUp = true;
        }
    }
    std::fill(place, place + count, none);
    return false;
}

bool RunBatch::descriptorsToSpare() const
{
    // The lowest free number shows how full the table is: the ring's own
    // descriptor must not be one of the last few, which the files' own
    // opens and the folder need where descriptors run short.
    constexpr int spare = 16;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return false;
    const int lowest = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    if (lowest < 0)
        return false;
    ::close(lowest);
    return files.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(lowest) + spare < files.rlim_cur;
}

bool RunBatch::take(std::size_t i, ScanQueue::Result &result, int &fd)
{
    fd = -1;
    if (i >= count || place[i] == none)
        return false;
    UringReader::File &file = files[place[i]];
    if (file.untried) {
        // Short of descriptors, the ring's goes first, as the folder's
        // does, for the rest of the scan.
        if ((file.error == EMFILE || file.error == ENFILE) && reader) {
            reader.reset();
            givenUp = true;
        }
        return false;
    }
    result.error = file.error;
    result.before = file.before;
    result.after = file.after;
    result.digest.swap(file.digest);
    fd = file.fd;
    file.fd = -1;
    return true;
}
