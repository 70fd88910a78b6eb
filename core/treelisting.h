#pragma once

#include "ignorerules.h"
#include "packedpaths.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Where the system has POSIX directory calls, the listing reads directories
// itself (treelisting_posix.cpp): QDir takes a stat call for every entry,
// which costs more than hashing a small file, and decodes names, which would
// merge names that decode alike. Elsewhere, or where the build asks for it
// with ORVALEN_QT_LISTING, it lists through Qt (treelisting_qt.cpp).
#ifndef ORVALEN_QT_LISTING
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
    // file itself; empty for none. refuseLineFeeds: a file whose path holds
    // a line feed, which no line of a checksums file can hold, fails the
    // listing (or, where unreadable directories are passed over, is left
    // out); otherwise it is listed like any other.
    TreeListing(const std::string &sourceDir, const std::string &skippedFile, bool refuseLineFeeds);
    ~TreeListing();

    TreeListing(const TreeListing &) = delete;
    TreeListing &operator=(const TreeListing &) = delete;

    // Why list() stopped.
    enum class Failure { None, UnreadableDirectory, LineFeedInName, IgnoreFile, Stopped };

    // However deep the tree, the listing holds at most heldDirectories
    // directory descriptors: the source directory's own, one for each of the
    // outer heldLevels levels on the way down, and two while a deeper
    // directory is reopened from the deepest one held. A scan leaves that
    // many descriptors free for it.
    static constexpr int heldLevels = 32;
    static constexpr int heldDirectories = heldLevels + 3;

    // The listing for systems without POSIX directory calls sees names only
    // as Qt decodes them: a name that is not valid in the local encoding
    // cannot be opened through it.
#ifndef ORVALEN_QT_LISTING
    static constexpr bool keepsNameBytes = true;
#else
    static constexpr bool keepsNameBytes = false;
#endif

    // False when the scan has to stop: the source directory's ignore file
    // cannot be read or holds a malformed line (whatever stopAtUnreadable
    // says, before anything is listed; ignoreRules().errorText() says why),
    // a directory could not be read or searched, or a file's path holds a
    // line feed where that is refused; failure() and failedPath() then say
    // which. Without stopAtUnreadable such a directory or file is passed
    // over. What the ignore file excludes is left out, and an excluded
    // directory is not even opened. Memory that runs out, also where a
    // directory cannot be opened or read for want of it, throws
    // std::bad_alloc.
    bool list(bool stopAtUnreadable);
    // Called after each directory's files were added, with the number of
    // files listed so far, so that work on them can start before the whole
    // tree is listed. Answering false stops the listing (Failure::Stopped).
    void setListedHandler(std::function<bool(std::size_t)> handler) { listedHandler = std::move(handler); }
    // Whether the paths are dropped once the handler has seen them, so that
    // a listing of millions of files holds no more than one directory's.
    void setForgetsListed(bool forget) { forgetsListed = forget; }
    // Asked when a directory could not be opened for want of a descriptor:
    // waits until one is likely free and answers true, or answers false
    // when there is nothing to wait for.
    void setDescriptorWait(std::function<bool()> wait) { descriptorWait = std::move(wait); }
    // With a handler, a directory below the source directory that cannot be
    // read or searched goes to it, with its path below the source directory
    // (no closing slash), the errno and the number of files listed before
    // it, and the listing goes on past it. Called on the listing's thread.
    using UnreadableHandler = std::function<void(const std::string &below, int error, std::size_t listedBefore)>;
    void setUnreadableHandler(UnreadableHandler handler) { unreadableHandler = std::move(handler); }
    // After list() returned false: the errno (EMFILE, ENFILE) of a want of
    // descriptors, which says nothing about the directory; 0 for none.
    int descriptorShortage() const { return shortage; }

    std::size_t size() const { return paths.size(); }
    // The i-th file's path below the source directory: length bytes at
    // the pointer returned, valid until the listing changes. Where paths
    // are forgotten, only those of the last handler call are held.
    const char *below(std::size_t i, std::size_t &length) const;
    // The source directory as it is opened, without a closing slash.
    const std::string &sourcePath() const { return rootPath; }
    // The source directory, open as the kernel resolved its path once, or
    // -1 where files are opened by their full paths. Files are opened below
    // it, so that the scan reads the directory the user named however deep
    // the tree goes. Valid while the listing lives.
    int rootDescriptor() const { return rootFd; }
    Failure failure() const { return failed; }
    // The path of the directory or file that stopped the listing, as the
    // source directory was given followed by the path below it.
    const std::string &failedPath() const { return failedAt; }
    // Where the checksums file was met and left out, as paths below the
    // source directory.
    const std::vector<std::string> &skippedPaths() const { return skippedAt; }
    // The rules the last list() read from the source directory.
    const IgnoreRules &ignoreRules() const { return rules; }

private:
    // Each walker's own part of the ones above.
    bool listSource();
    bool readRuleFile();
    static std::string canonicalPath(const std::string &path);
#ifndef ORVALEN_QT_LISTING
    // Lists the directory open at fd, which it takes over.
    bool collect(int fd);
    // Lists the subdirectory name of the directory being read, open at fd
    // (-1 when it could not be opened).
    // openError: the errno of the open, where fd is -1.
    bool collectBelow(const std::string &name, int fd, int openError);
    // Opens the subdirectory name of the directory being read once that
    // directory's own descriptor is closed again, from the deepest one held.
    int reopenBelow(const std::string &name) const;
    // A subdirectory of the directory being read, opened from the deepest
    // directory held (held: the one being read); waits while descriptors
    // run short, and sets shortage when none comes free.
    int openSubdirectory(const std::string &name, bool held);
    // Calls open until it gives a descriptor, waiting while descriptors run
    // short; -1 with shortage set when none comes free.
    int openWaiting(const std::function<int()> &open);
    bool isSkipped(int dirFd, const char *name, bool mayLeadThere);
#else
    bool collect();
    bool collectBelow(const std::string &name);
    bool isSkipped(const char *name, bool mayLeadThere);
#endif
    // The directory being read failed with errno error; throws
    // std::bad_alloc for ENOMEM.
    bool unreadable(int error);
    bool loadRules();
    // Whether the ignore rules leave out the entry name of the directory
    // being read.
    bool isIgnored(const char *name, bool isDirectory);
    // Adds a file of the directory being read; false when its path cannot
    // be kept and the listing has to stop.
    bool addFile(const std::string &name);
    // Hands the files added since listedBefore to the handler; false when
    // it stops the listing.
    bool handOver(std::size_t listedBefore);
    // Appends name to path after a slash, where it has none at its end.
    static void appendName(std::string &path, const char *name);

    std::string rootPath;
    // The directory being read, and its path below the source directory
    // ending in a slash (empty for the source directory itself).
    std::string dirPath;
    std::string relPath;
    // The files found, as paths below the source directory.
    PackedPaths paths;
    bool forgetsListed = false;
    // The directories being read, outermost first: a directory met again on
    // this path is a loop.
#ifndef ORVALEN_QT_LISTING
    std::vector<std::pair<dev_t, ino_t>> descent;
    // The descriptors of the outer directories on that path, one per level
    // down to a fixed depth; below it a directory is reopened by name.
    std::vector<int> heldFds;
    dev_t skippedDevice = 0;
    ino_t skippedInode = 0;
#else
    std::vector<std::string> descent;
#endif
    std::string skippedCanonical;
    std::string skippedName;
    bool stopAtUnreadable = true;
    bool refuseLineFeeds;
    std::function<bool(std::size_t)> listedHandler;
    int rootFd = -1;
    int rootError = 0;
    Failure failed = Failure::None;
    std::string failedAt;
    std::vector<std::string> skippedAt;
    std::function<bool()> descriptorWait;
    UnreadableHandler unreadableHandler;
    int shortage = 0;
    IgnoreRules rules;
    std::string judgedPath;
};
