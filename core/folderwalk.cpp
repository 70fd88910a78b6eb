#include "folderwalk.h"

#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows in one path.
constexpr int maxLinks = 40;

#ifdef O_PATH
// A folder passed on the way needs only the right to search it.
constexpr int lookupOnly = O_PATH;
#else
constexpr int lookupOnly = O_RDONLY;
#endif

// A folder where every user may make names and only their owners may take
// them away: /tmp and its kind.
bool isShared(const struct stat &folder)
{
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// Puts the names of path before those still to be walked (the next one
// last), without empty names and ".". True when path has the form of a
// folder: it ends in a slash, "." or "..".
bool pushNames(const std::string &path, std::vector<std::string> &names)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    const bool folderForm = parts.back().empty() || parts.back() == "." || parts.back() == "..";
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        if (!part->empty() && *part != ".")
            names.push_back(std::move(*part));
    }
    return folderForm;
}

int readLink(int folder, const std::string &name, const struct stat &link, std::string &target)
{
    target.assign(std::size_t(link.st_size > 0 ? link.st_size : 255) + 1, '\0');
    for (;;) {
        const ssize_t got = ::readlinkat(folder, name.c_str(), &target[0], target.size());
        if (got < 0)
            return errno;
        if (std::size_t(got) < target.size()) {
            target.resize(std::size_t(got));
            return target.empty() ? ENOENT : 0;
        }
        target.resize(target.size() * 2);
    }
}

} // namespace

bool FolderWalk::plantedByOther(const struct stat &folder, const struct stat &entry)
{
    return isShared(folder) && entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid;
}

int FolderWalk::walk(const std::string &path, Descriptor &folder, std::string &name, struct stat &entry, bool &exists)
{
    exists = false;
    if (path.empty())
        return ENOENT;
    std::vector<std::string> names;
    if (pushNames(path, names) || names.empty())
        return EISDIR;
    Descriptor at(::open(path[0] == '/' ? "/" : ".", lookupOnly | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0)
        return errno;
    int links = 0;
    for (;;) {
        std::string next = std::move(names.back());
        names.pop_back();
        const bool last = names.empty();
        struct stat info;
        if (::fstatat(at.get(), next.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !last)
                return errno;
            name = std::move(next);
            break;
        }
        if (S_ISLNK(info.st_mode)) {
            struct stat folderInfo;
            if (::fstat(at.get(), &folderInfo) != 0)
                return errno;
            if (plantedByOther(folderInfo, info))
                return EACCES;
            if (++links > maxLinks)
                return ELOOP;
            std::string target;
            if (const int error = readLink(at.get(), next, info, target))
                return error;
            if (target[0] == '/') {
                at.reset(::open("/", lookupOnly | O_DIRECTORY | O_CLOEXEC));
                if (at.get() < 0)
                    return errno;
            }
            // A link at the end that leads to a folder by its very form.
            if (pushNames(target, names) && last)
                return EISDIR;
            continue;
        }
        if (last) {
            name = std::move(next);
            entry = info;
            exists = true;
            break;
        }
        // Not followed should a link have taken the folder's place since.
        const int fd = ::openat(at.get(), next.c_str(), lookupOnly | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno;
        at.reset(fd);
    }
    const int fd = ::openat(at.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    folder.reset(fd);
    return 0;
}
