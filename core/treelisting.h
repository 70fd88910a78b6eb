#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#if defined(Q_OS_UNIX) && !defined(ORVALEN_QT_LISTING)
// The listing reads directories itself: QDir takes a stat call for every
// entry, which costs more than hashing a small file, and decodes names,
// which would merge names that decode alike.
#define ORVALEN_POSIX_LISTING
#include <sys/types.h>
#endif

// The files below a source directory, in the order the checksums file keeps
// them: in each directory its files by name ignoring case, then the subtrees
// of its subdirectories in the same order. Hidden entries are left out, links
// count as what they lead to, and a directory met again on the way down is
// not entered twice. Paths are the bytes the directories gave.
class TreeListing
{
public:
    // sourceDir: the directory as the file system takes it (empty names the
    // working directory). skippedFile: a file never to list, the checksums
    // file itself; empty for none.
    TreeListing(const std::string &sourceDir, const std::string &skippedFile);

    // The listing holds at most this many directories open at once; a scan
    // leaves that many descriptors free for it.
    static constexpr int heldDirectories = 32;

    // The listing for systems without POSIX directory calls sees names only
    // as Qt decodes them: a name that is not valid in the local encoding
    // cannot be opened through it.
#ifdef ORVALEN_POSIX_LISTING
    static constexpr bool keepsNameBytes = true;
#else
    static constexpr bool keepsNameBytes = false;
#endif

    // False when the scan has to stop: a directory could not be read, or
    // the type of an entry in it could not be learnt (a directory that can
    // be listed but not searched); unreadableDirectory() then names it.
    // Without stopAtUnreadable such a directory is passed over instead.
    bool list(bool stopAtUnreadable);
    // Called after each directory's files were added, with the number of
    // files listed so far, so that work on them can start before the whole
    // tree is listed.
    void setListedHandler(std::function<void(std::size_t)> handler) { listedHandler = std::move(handler); }
    // Asked when a directory could not be opened for want of a descriptor:
    // waits until one is likely free and answers true, or answers false
    // when there is nothing to wait for.
    void setDescriptorWait(std::function<bool()> wait) { descriptorWait = std::move(wait); }
    // After list() returned false: the errno (EMFILE, ENFILE) of a want of
    // descriptors, which says nothing about the directory; 0 for none.
    int descriptorShortage() const { return shortage; }

    std::size_t size() const { return pathEnds.size(); }
    // The i-th file's path below the source directory: length bytes at
    // the pointer returned, valid until the listing changes.
    const char *below(std::size_t i, std::size_t &length) const;
    // The source directory as it is opened, without a closing slash.
    const std::string &sourcePath() const { return rootPath; }
    QString unreadableDirectory() const;

private:
    bool collect();
    // Lists the subdirectory name of the directory being read.
    bool collectBelow(const std::string &name);
    bool unreadable();
    bool isSkipped(const char *name, bool mayLeadThere);

    std::string rootPath;
    // The directory being read, and its path below the source directory
    // ending in a slash (empty for the source directory itself).
    std::string dirPath;
    std::string relPath;
    // The files found, as paths below the source directory, back to back.
    std::string paths;
    std::vector<std::size_t> pathEnds;
    // The directories being read, outermost first: a directory met again on
    // this path is a loop.
#ifdef ORVALEN_POSIX_LISTING
    std::vector<std::pair<dev_t, ino_t>> descent;
    dev_t skippedDevice = 0;
    ino_t skippedInode = 0;
#else
    std::vector<std::string> descent;
#endif
    std::string skippedCanonical;
    std::string skippedName;
    bool stopAtUnreadable = true;
    std::function<void(std::size_t)> listedHandler;
    std::function<bool()> descriptorWait;
    int shortage = 0;
    std::string unreadableDir;
};
