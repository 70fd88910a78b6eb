#include "hashtools.h"

#include "checksumfile.h"
#include "compareerr.h"
#include "icreatehashreport.h"
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
    lastScan = VerifySession::ScanFacts();
    changingRecords.clear();
    // Only calculateHashes keeps what compare takes of a scan's files.
    stampsBefore.clear();
    changedWhileRead.clear();
    if (!hasher) {
        if (report)
            report->reportError(tr("Unsupported hash algorithm \"%1\".")
                                    .arg(QString::fromStdString(algorithm)));
        return false;
    }
    lastScan.start = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    TreeScan::Options options;
    options.jobs = jobCount;
    options.recordsToBeWritten = recordsToBeWritten;
    options.recordsBelowSource = recordsBelowSource;
    options.countFirst = countFirst;
    options.listAhead = listAhead;
    const UnreadableSink toSession = [this](const ReadFailure &failure) {
        verifying->unreadable(failure);
        return true;
    };
    options.unreadable = verifying ? &toSession : unreadableSink ? &unreadableSink : nullptr;
    // An update reads only the files that may have changed since the
    // reference, and a rolling scrub only its slice and the files it has
    // no record of; the others keep their stored records unread.
    if (updatedFrom) {
        options.known = updatedFrom;
        options.update = updateCounts;
        options.settled = reference - timeTolerance;
        options.reference = reference;
        options.scanStart = lastScan.start;
        options.accepted = acceptedPaths.empty() ? nullptr : &acceptedPaths;
    } else if (verifying && verifying->slices() != 0) {
        options.known = &verifying->stored();
        options.slice = verifying->slice();
        options.slices = verifying->slices();
    }
    TreeScan scan(*hasher, algorithm, options, report);
    const bool finished = scan.run(sourceDir, checksumFile, sink);
    lastScan.checksumsFileRecords = scan.checksumsFileRecords();
    changingRecords = std::move(scan.changingRecords());
    lastScan.ignoreRules = scan.ignoreRules();
    lastScan.ignoredPrefix = scan.recordPrefix();
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

bool HashTools::verifyHashes(const std::string &sourceDir, VerifySession &session, ICreateHashReport *report,
                             const std::string &checksumFile)
{
    verifying = &session;
    struct Restore
    {
        HashTools *tools;
        ~Restore() { tools->verifying = nullptr; }
    } restore{this};
    const RecordSink check = [&session](std::string &path, std::string &digest, const FileStamp &before,
                                        bool changed) {
        session.check(path, digest, before, changed);
        return true;
    };
    const bool finished = scanTree(sourceDir, check, report, checksumFile, true, false);
    session.scanned(lastScan);
    return finished;
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
    return VerifySession::digestOrEmpty(*hasher, fileName);
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
    digestWhileWriting(writer);
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

void HashTools::digestWhileWriting(ChecksumFile::Writer &writer) const
{
    writer.digestAs(algorithm);
}

std::string HashTools::saveDB(ChecksumFile::Writer &writer)
{
    if (!hasher)
        return std::string();
    try {
        if (!writer.commit())
            return std::string();
        if (!writer.writtenDigest().empty())
            return writer.writtenDigest();
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
    return VerifySession::loadIndex(*hasher, fileName, index, reference);
}

void HashTools::compare(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored,
                        std::vector<std::unique_ptr<CompareErr>> &errors)
{
    VerifySession session;
    session.assign(stored, reference);
    // Stamps belong to the last scan's records, in their order.
    const bool ofLastScan = changedWhileRead.size() == current.size();
    static const std::vector<FileStamp> noStamps;
    static const std::vector<bool> notTold;
    session.check(current, ofLastScan ? stampsBefore : noStamps, ofLastScan ? changedWhileRead : notTold);
    session.scanned(lastScan);
    session.finish();
    errors = std::move(session.errors());
}
