#include "hashtools.h"

#include "checksumfile.h"
#include "compareerr.h"
#include "icreatehashreport.h"
#include "pathindex.h"
#include "scanpipeline.h"
#include "storedindex.h"
#include "treescan.h"

#include "hashfactory.h"
#include "hashwrapper.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <unordered_map>
#include <utility>

#if defined(ORVALEN_POSIX)
#include <sys/stat.h>
#endif

HashTools::HashTools(const std::string &algorithm, QObject *parent)
    : QObject(parent), hasher(hashfactory().makeWrapper(algorithm)), algorithm(algorithm)
{
}

HashTools::~HashTools()
{
    delete hasher;
}

void HashTools::calculateHashes(const QString &sourceDir, std::vector<HashRecord> &records,
                                ICreateHashReport *report, const QString &checksumFile)
{
    calculateHashes(QFile::encodeName(QDir(sourceDir).path()).toStdString(), records, report,
                    checksumFile.isEmpty() ? std::string() : QFile::encodeName(checksumFile).toStdString());
}

static_assert(HashTools::maxJobs == ScanPipeline::maxHashers, "one cap for the jobs");

void HashTools::calculateHashes(const std::string &sourceDir, std::vector<HashRecord> &records,
                                ICreateHashReport *report, const std::string &checksumFile,
                                bool recordsBelowSource)
{
    records.clear();
    stampsBefore.clear();
    changedWhileRead.clear();
    const RecordSink keep = [&](std::string &path, std::string &digest, const FileStamp &before, bool changed) {
        records.push_back(HashRecord{std::move(path), std::move(digest)});
        if (stampsWanted)
            stampsBefore.push_back(before);
        changedWhileRead.push_back(changed);
        return true;
    };
    if (!scanTree(sourceDir, keep, report, checksumFile, recordsBelowSource, true)) {
        records.clear();
        stampsBefore.clear();
        changedWhileRead.clear();
    }
}

bool HashTools::streamHashes(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                             const std::string &checksumFile)
{
    return scanTree(sourceDir, sink, report, checksumFile, true, false);
}

bool HashTools::scanTree(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                         const std::string &checksumFile, bool recordsBelowSource, bool countFirst)
{
    // Threads, memory and descriptors run out on a small machine or under
    // a container's limits: that ends the run with an error, never the
    // process with an abort.
    QString reason;
    try {
        return hashTree(sourceDir, sink, report, checksumFile, recordsBelowSource, countFirst);
    } catch (const std::bad_alloc &) {
        if (!report)
            throw;
        reason = tr("not enough memory");
    } catch (const std::system_error &failure) {
        if (!report)
            throw;
        reason = QString::fromLocal8Bit(failure.code().message().c_str());
    }
    report->reportError(tr("Not enough system resources to hash the tree: %1.").arg(reason));
    return false;
}


bool HashTools::hashTree(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                         const std::string &checksumFile, bool recordsBelowSource, bool countFirst)
{
    checksumsFileRecords.clear();
    changingRecords.clear();
    // Only calculateHashes keeps what compare takes of a scan's files.
    stampsBefore.clear();
    changedWhileRead.clear();
    ignoreRules = IgnoreRules();
    if (!hasher) {
        if (report)
            report->reportError(tr("Unsupported hash algorithm \"%1\".")
                                    .arg(QString::fromStdString(algorithm)));
        return false;
    }
    scanStart = std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
    TreeScan::Options options;
    options.jobs = jobCount;
    options.recordsToBeWritten = recordsToBeWritten;
    options.recordsBelowSource = recordsBelowSource;
    options.countFirst = countFirst;
    options.listAhead = listAhead;
    options.unreadable = unreadableSink ? &unreadableSink : nullptr;
    // An update reads only the files that may have changed since the
    // reference, and a rolling scrub only its slice and the files it has
    // no record of; the others keep their stored records unread.
    if (updatedFrom) {
        options.known = updatedFrom;
        options.update = updateCounts;
        options.settled = reference - timeTolerance;
        options.reference = reference;
        options.scanStart = scanStart;
        options.accepted = acceptedPaths.empty() ? nullptr : &acceptedPaths;
    } else if (sliceCount != 0) {
        options.known = sliceIndex;
        options.slice = readSlice;
        options.slices = sliceCount;
    }
    TreeScan scan(*hasher, algorithm, options, report);
    const bool finished = scan.run(sourceDir, checksumFile, sink);
    checksumsFileRecords = scan.checksumsFileRecords();
    changingRecords = std::move(scan.changingRecords());
    ignoreRules = scan.ignoreRules();
    ignoredPrefix = scan.recordPrefix();
    return finished;
}

bool HashTools::updateHashes(const std::string &sourceDir, StoredIndex &stored, long long referenceTime,
                             const RecordSink &sink, UpdateCounts &counts, ICreateHashReport *report,
                             const std::string &checksumFile)
{
    counts = UpdateCounts();
    reference = referenceTime;
    updatedFrom = &stored;
    updateCounts = &counts;
    const bool wereWanted = stampsWanted;
    stampsWanted = false;
    struct Restore
    {
        HashTools *tools;
        bool wanted;
        ~Restore()
        {
            tools->updatedFrom = nullptr;
            tools->updateCounts = nullptr;
            tools->stampsWanted = wanted;
        }
    } restore{this, wereWanted};
    if (!scanTree(sourceDir, sink, report, checksumFile, true, false))
        return false;
    // Every stored path the tree no longer holds is dropped.
    counts.removed = stored.unseenPaths();
    return true;
}

void HashTools::setSlice(StoredIndex *stored, unsigned slice, unsigned slices)
{
    sliceIndex = stored;
    readSlice = slice;
    sliceCount = stored ? slices : 0;
}

unsigned HashTools::sliceOf(const std::string &recordPath, unsigned slices)
{
    return ScanRecords::sliceOf(recordPath, slices);
}

void HashTools::setStampsWanted(bool wanted)
{
    stampsWanted = wanted;
}

void HashTools::setReferenceTime(long long nanoseconds)
{
    reference = nanoseconds;
}

long long HashTools::referenceTime() const
{
    return reference;
}

void HashTools::setRecordsToBeWritten(bool toBeWritten)
{
    recordsToBeWritten = toBeWritten;
}

void HashTools::setJobs(int jobs)
{
    jobCount = jobs < 0 ? 0 : std::min(jobs, maxJobs);
}

int HashTools::jobs() const
{
    return jobCount;
}

std::string HashTools::digestOrEmpty(const std::string &fileName)
{
    try {
        return hasher->digestOfFile(fileName);
    } catch (...) {
        return std::string();
    }
}

std::string HashTools::saveDB(const std::string &fileName, const std::vector<HashRecord> &records)
{
    ChecksumFile::Writer writer(fileName);
    return saveDB(writer, records);
}

std::string HashTools::saveDB(ChecksumFile::Writer &writer, const std::vector<HashRecord> &records)
{
    if (!hasher)
        return std::string();
    try {
        for (const HashRecord &record : records) {
            if (!writer.append(record.path, record.hash))
                return std::string();
        }
    } catch (...) {
        return std::string();
    }
    return saveDB(writer);
}

std::string HashTools::saveDB(ChecksumFile::Writer &writer)
{
    if (!hasher)
        return std::string();
    try {
        if (!writer.commit())
            return std::string();
#if defined(ORVALEN_POSIX)
        // The digest of the very file put in place: the name may lead
        // elsewhere by now.
        const int fd = writer.committedFile();
        struct stat info;
        if (fd >= 0 && ::fstat(fd, &info) == 0)
            return hasher->digestOfOpenFile(fd, info.st_size, writer.fileName(), false);
#endif
    } catch (...) {
        return std::string();
    }
    return digestOrEmpty(writer.fileName());
}

std::string HashTools::readFrom(const std::string &fileName)
{
#if defined(ORVALEN_POSIX)
    struct stat info;
    reference = ::stat(fileName.c_str(), &info) == 0 ? FileStamp::of(info).modified : 0;
#endif
    return digestOrEmpty(fileName);
}

std::string HashTools::loadDB(const std::string &fileName, std::vector<HashRecord> &records)
{
    if (!hasher)
        return std::string();
    const std::size_t kept = records.size();
    try {
        if (ChecksumFile::read(fileName, records)) {
            std::string digest = readFrom(fileName);
            if (!digest.empty())
                return digest;
        }
    } catch (...) {
    }
    records.resize(kept);
    return std::string();
}

std::string HashTools::loadDB(const std::string &fileName, StoredIndex &index)
{
    if (!hasher)
        return std::string();
    try {
        if (index.load(fileName)) {
            std::string digest = readFrom(fileName);
            if (!digest.empty())
                return digest;
        }
    } catch (const std::bad_alloc &) {
        index = StoredIndex();
        throw;
    } catch (...) {
    }
    index = StoredIndex();
    return std::string();
}

void HashTools::compare(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored,
                        std::vector<std::unique_ptr<CompareErr>> &errors)
{
    errors.clear();

    // One table serves both passes, so its memory is touched only once.
    PathIndex index;
    index.assign(stored);
    index.lookUp(current, [&](const HashRecord &now, const HashRecord *before) {
        if (!before) {
            errors.push_back(std::make_unique<CE_NewFile>(now.path));
            errors.back()->digest = now.hash;
            return;
        }
        // Stamps belong to the last scan's records, in their order.
        const std::size_t at = static_cast<std::size_t>(&now - current.data());
        const bool ofLastScan = changedWhileRead.size() == current.size() && at < current.size();
        // A file written while it was read was modified now, whatever
        // content its last read found.
        const bool written = ofLastScan && changedWhileRead[at];
        if (before->hash != now.hash || written) {
            auto difference = std::make_unique<CE_HashDiff>(now.path, now.hash, before->hash);
            if (ofLastScan && stampsBefore.size() == current.size())
                difference->damaged = mayBeDamaged(now.hash, before->hash, stampsBefore[at], written);
            errors.push_back(std::move(difference));
        }
    });

    index.assign(current);
    std::size_t missing = 0;
    index.lookUp(stored, [&](const HashRecord &before, const HashRecord *now) {
        if (!now && countsAsMissing(before.path)) {
            errors.push_back(std::make_unique<CE_AbsentFile>(before.path));
            ++missing;
        }
    });
    // A missing file's digest is that of the first record of its path.
    if (missing > 0) {
        index.assign(stored);
        std::vector<HashRecord> paths(1);
        for (std::size_t i = errors.size() - missing; i < errors.size(); ++i) {
            paths[0].path = errors[i]->path;
            index.lookUp(paths, [&](const HashRecord &, const HashRecord *first) {
                errors[i]->digest = first->hash;
            });
        }
    }
}

bool HashTools::mayBeDamaged(const std::string &current, const std::string &stored, const FileStamp &before,
                             bool changedWhileRead) const
{
    return ScanRecords::mayBeDamaged(current, stored, before, changedWhileRead, reference, scanStart);
}

bool HashTools::countsAsMissing(const std::string &recordPath) const
{
    return std::find(checksumsFileRecords.begin(), checksumsFileRecords.end(), recordPath)
               == checksumsFileRecords.end()
           && !isIgnored(recordPath);
}

void HashTools::checkRecord(StoredIndex &stored, const std::string &path, const std::string &digest,
                            const FileStamp &before, bool changedWhileRead,
                            std::vector<std::unique_ptr<CompareErr>> &errors) const
{
    const std::size_t record = stored.find(path.data(), path.size());
    if (record == StoredIndex::none) {
        errors.push_back(std::make_unique<CE_NewFile>(path));
        errors.back()->digest = digest;
        return;
    }
    stored.markSeen(record);
    // A file written while it was read was modified now, whatever content
    // its last read found.
    if (stored.digestIs(record, digest) && !changedWhileRead)
        return;
    const std::string storedDigest = stored.digest(record);
    auto difference = std::make_unique<CE_HashDiff>(path, digest, storedDigest);
    difference->damaged = mayBeDamaged(digest, storedDigest, before, changedWhileRead);
    errors.push_back(std::move(difference));
}

void HashTools::addMissing(const StoredIndex &stored, std::vector<std::unique_ptr<CompareErr>> &errors) const
{
    for (std::size_t record = 0; record < stored.recordCount(); ++record) {
        const std::size_t first = stored.counting(record);
        if (stored.wasSeen(first))
            continue;
        const std::string path = stored.path(record);
        if (!countsAsMissing(path))
            continue;
        errors.push_back(std::make_unique<CE_AbsentFile>(path));
        errors.back()->digest = stored.digest(first);
    }
}

bool HashTools::isIgnored(const std::string &recordPath) const
{
    if (ignoreRules.isEmpty() || recordPath.compare(0, ignoredPrefix.size(), ignoredPrefix) != 0)
        return false;
    return ignoreRules.excluded(recordPath.data() + ignoredPrefix.size(),
                                recordPath.size() - ignoredPrefix.size(), false);
}

std::vector<std::pair<std::size_t, std::size_t>>
HashTools::findMoves(const std::vector<std::unique_ptr<CompareErr>> &errors)
{
    std::unordered_map<std::string, std::size_t> firstNew;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i]->type == CompareErr::NewFile && !errors[i]->digest.empty())
            firstNew.emplace(errors[i]->digest, i);
    }
    std::vector<std::pair<std::size_t, std::size_t>> moves;
    if (firstNew.empty())
        return moves;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i]->type != CompareErr::AbsentFile || errors[i]->digest.empty())
            continue;
        const auto found = firstNew.find(errors[i]->digest);
        if (found == firstNew.end())
            continue;
        moves.emplace_back(found->second, i);
        firstNew.erase(found);
    }
    std::sort(moves.begin(), moves.end());
    return moves;
}
