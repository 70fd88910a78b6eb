#include "treelisting.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

namespace {

bool isSearchable(const QFileInfo &dir)
{
#if defined(ORVALEN_POSIX)
    return dir.isExecutable();
#else
    (void)dir;
    return true;
#endif
}

} // namespace

std::string TreeListing::canonicalPath(const std::string &path)
{
    const QString canonical = QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).canonicalFilePath();
    return QFile::encodeName(canonical).toStdString();
}

TreeListing::TreeListing(const std::string &sourceDir, const std::string &skippedFile,
                         bool refuseLineFeeds)
    : rootPath(sourceDir.empty() ? std::string(".") : sourceDir), refuseLineFeeds(refuseLineFeeds)
{
    while (rootPath.size() > 1 && rootPath.back() == '/')
        rootPath.pop_back();
    if (skippedFile.empty())
        return;
    skippedCanonical = canonicalPath(skippedFile);
    skippedName = skippedCanonical.substr(skippedCanonical.rfind('/') + 1);
}

TreeListing::~TreeListing() = default;

bool TreeListing::listSource()
{
    const QFileInfo root(QFile::decodeName(QByteArray::fromStdString(rootPath)));
    if (!root.isDir() || !root.isReadable() || !isSearchable(root))
        rules = IgnoreRules();
    else if (!loadRules())
        return false;
    return collect();
}

bool TreeListing::readRuleFile()
{
    return rules.load(rootPath);
}

bool TreeListing::isSkipped(const char *name, bool mayLeadThere)
{
    if (skippedCanonical.empty() || (!mayLeadThere && skippedName != name))
        return false;
    std::string path = dirPath;
    appendName(path, name);
    if (canonicalPath(path) != skippedCanonical)
        return false;
    skippedAt.push_back(relPath + name);
    return true;
}

bool TreeListing::collectBelow(const std::string &name)
{
    const std::size_t dirLength = dirPath.size();
    const std::size_t relLength = relPath.size();
    appendName(dirPath, name.c_str());
    relPath += name;
    relPath += '/';
    const bool goOn = collect();
    dirPath.resize(dirLength);
    relPath.resize(relLength);
    return goOn;
}

bool TreeListing::collect()
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(dirPath));
    const QFileInfo info(path);
    // A source directory that does not exist simply holds no files.
    if (descent.empty() && !info.exists())
        return true;
    // QDir lists an unreadable directory as empty, without an error; and
    // in a directory that cannot be searched every entry would look absent.
    if (!info.isDir() || !info.isReadable() || !isSearchable(info))
        return unreadable(EACCES);
    const std::string canonical = canonicalPath(dirPath);
    if (std::find(descent.begin(), descent.end(), canonical) != descent.end())
        return true;

    // A QDir made from a path sorts by name ignoring case.
    const QDir dir(path);
    const std::size_t listedBefore = paths.size();
    // QDir leaves out names that are not valid in the local encoding; where
    // this listing serves, names are text to the system too.
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files, QDir::NoSort)) {
        // QDir::Files also lets through links to anything but a directory.
        if (file.exists() && !file.isFile())
            continue;
        const std::string name = QFile::encodeName(file.fileName()).toStdString();
        if (isIgnored(name.c_str(), false) || isSkipped(name.c_str(), file.isSymLink()))
            continue;
        if (!addFile(name))
            return false;
    }
    if (!handOver(listedBefore))
        return false;

    descent.push_back(canonical);
    bool goOn = true;
    for (const QFileInfo &sub : dir.entryInfoList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::NoSort)) {
        // The list of directories also holds links to FIFOs and devices.
        if (!sub.isDir())
            continue;
        const std::string name = QFile::encodeName(sub.fileName()).toStdString();
        if (!isIgnored(name.c_str(), true) && !(goOn = collectBelow(name)))
            break;
    }
    descent.pop_back();
    return goOn;
}
