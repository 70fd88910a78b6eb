#include "treelisting.h"

#include <cerrno>
#include <new>

void TreeListing::appendName(std::string &path, const char *name)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
}

bool TreeListing::list(bool stopAtUnreadable)
{
    this->stopAtUnreadable = stopAtUnreadable;
    paths.clear();
    descent.clear();
    skippedAt.clear();
    failed = Failure::None;
    failedAt.clear();
    shortage = 0;
    dirPath = rootPath;
    relPath.clear();
    return listSource();
}

const char *TreeListing::below(std::size_t i, std::size_t &length) const
{
    const std::string_view path = paths.view(i);
    length = path.size();
    return path.data();
}

bool TreeListing::unreadable(int error)
{
    // Memory that runs out is no fault of the directory.
    if (error == ENOMEM)
        throw std::bad_alloc();
    // The source directory itself is no finding: without it there is no
    // scan to go on with.
    if (unreadableHandler && !relPath.empty()) {
        unreadableHandler(relPath.substr(0, relPath.size() - 1), error != 0 ? error : EIO, size());
        return true;
    }
    failed = Failure::UnreadableDirectory;
    failedAt = dirPath;
    return !stopAtUnreadable;
}

bool TreeListing::loadRules()
{
    if (readRuleFile())
        return true;
    if (rules.openError() == EMFILE || rules.openError() == ENFILE)
        shortage = rules.openError();
    else
        failed = Failure::IgnoreFile;
    failedAt = rootPath;
    return false;
}

bool TreeListing::isIgnored(const char *name, bool isDirectory)
{
    if (rules.isEmpty())
        return false;
    judgedPath.assign(relPath);
    judgedPath += name;
    return rules.excludedEntry(judgedPath.data(), judgedPath.size(), isDirectory);
}

bool TreeListing::handOver(std::size_t listedBefore)
{
    if (!listedHandler || paths.size() == listedBefore)
        return true;
    const bool goOn = listedHandler(size());
    if (forgetsListed)
        paths.forgetBefore(paths.size());
    if (!goOn)
        failed = Failure::Stopped;
    return goOn;
}

bool TreeListing::addFile(const std::string &name)
{
    // A line feed ends a record in the checksums file: such a path could
    // only be written as another one. Better to say so before the tree is
    // hashed than to fail when the file is written.
    if (refuseLineFeeds
        && (name.find('\n') != std::string::npos || relPath.find('\n') != std::string::npos)) {
        failed = Failure::LineFeedInName;
        failedAt = dirPath;
        appendName(failedAt, name.c_str());
        return !stopAtUnreadable;
    }
    paths.append(relPath, name);
    return true;
}
