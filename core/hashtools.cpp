#include "hashtools.h"

#include "checksumfile.h"
#include "compareerr.h"
#include "icreatehashreport.h"
#include "largepages.h"
#include "pathbytes.h"
#include "pathindex.h"
#include "scanpipeline.h"
#include "storedindex.h"
#include "treelisting.h"

#include "hashfactory.h"
#include "hashwrapper.h"
#include "hlexception.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <atomic>
#include <exception>
#include <unordered_map>
#include <utility>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool isAbsolute(const std::string &path)
{
    return QDir::isAbsolutePath(QFile::decodeName(QByteArray::fromStdString(path)));
}

// Calls isCanceled about every 100 ms while one file is hashed on the
// calling thread, so that a window stays alive during a large file.
class CancelProbe
{
public:
    explicit CancelProbe(ICreateHashReport *report) : report(report) { clock.start(); }
    bool keepGoing()
    {
        if (!report || clock.elapsed() < 100)
            return true;
        clock.restart();
        canceled = report->isCanceled();
        return !canceled;
    }
    bool wasCanceled() const { return canceled; }

private:
    ICreateHashReport *report;
    QElapsedTimer clock;
    bool canceled = false;
};

// The status of a listed file, looked up without opening it.
FileStamp stampBelow(int rootFd, const std::string &nativePrefix, const char *below, std::size_t length)
{
#if defined(Q_OS_UNIX)
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
        if (stampsWanted) {
            stampsBefore.push_back(before);
            changedWhileRead.push_back(changed);
        }
        return true;
    };
    if (!scanTree(sourceDir, keep, report, checksumFile, recordsBelowSource, true, true)) {
        records.clear();
        stampsBefore.clear();
        changedWhileRead.clear();
    }
}

bool HashTools::streamHashes(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                             const std::string &checksumFile)
{
    return scanTree(sourceDir, sink, report, checksumFile, true, true, false);
}

bool HashTools::scanTree(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                         const std::string &checksumFile, bool recordsBelowSource, bool streaming,
                         bool countFirst)
{
    // Threads, memory and descriptors run out on a small machine or under
    // a container's limits: that ends the run with an error, never the
    // process with an abort.
    QString reason;
    try {
        return hashTree(sourceDir, sink, report, checksumFile, recordsBelowSource, streaming, countFirst);
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

namespace {

// The listing of a streaming scan, on a thread of its own: it hands the
// files to the pipeline as it finds them and waits while the pipeline holds
// enough. It ends inside the scan whatever the outcome, abandoned where the
// scan ends early.
class ListingThread
{
public:
    ListingThread(TreeListing &listing, ScanPipeline &pipeline) : listing(listing), pipeline(pipeline) {}
    ~ListingThread() { end(true); }
    ListingThread(const ListingThread &) = delete;
    ListingThread &operator=(const ListingThread &) = delete;

    // False where no thread could start.
    bool start(bool stopAtUnreadable)
    {
        try {
            thread = std::thread([this, stopAtUnreadable] {
                try {
                    listed = listing.list(stopAtUnreadable);
                } catch (...) {
                    failure = std::current_exception();
                }
                pipeline.finish();
                done = true;
            });
            return true;
        } catch (const std::system_error &) {
        } catch (const std::bad_alloc &) {
        }
        return false;
    }
    // Whether the handler should go on listing.
    bool wanted() const { return !abandoned; }
    // Waits for a listing known to have handed in its last file.
    void join()
    {
        if (thread.joinable())
            thread.join();
    }
    bool isDone() const { return done; }
    // Stops the hashing and waits for the listing, which goes on to its
    // end unless abandoned; then it is safe to look at the listing.
    void end(bool abandon)
    {
        if (!thread.joinable())
            return;
        if (abandon)
            abandoned = true;
        pipeline.stop();
        thread.join();
    }
    // After end(): whether the whole tree was listed; rethrows what the
    // listing threw.
    bool succeeded() const
    {
        if (failure)
            std::rethrow_exception(failure);
        return listed;
    }

private:
    TreeListing &listing;
    ScanPipeline &pipeline;
    std::thread thread;
    std::atomic<bool> abandoned{false};
    std::atomic<bool> done{false};
    bool listed = false;
    std::exception_ptr failure;
};

} // namespace

bool HashTools::hashTree(const std::string &sourceDir, const RecordSink &sink, ICreateHashReport *report,
                         const std::string &checksumFile, bool recordsBelowSource, bool streaming,
                         bool countFirst)
{
    checksumsFileRecords.clear();
    ignoreRules = IgnoreRules();
    if (!hasher) {
        if (report)
            report->reportError(tr("Unsupported hash algorithm \"%1\".")
                                    .arg(QString::fromStdString(algorithm)));
        return false;
    }

    TreeListing listing(sourceDir, checksumFile, recordsToBeWritten);
    // Below an absolute source directory a record's path is the path below
    // it; a relative source directory stays at the front of every path, as
    // QDir::relativeFilePath leaves a relative path.
    const std::string &source = listing.sourcePath();
    std::string recordPrefix;
    if (!recordsBelowSource && !isAbsolute(source)) {
        recordPrefix = PathBytes::clean(source);
        if (recordPrefix == ".")
            recordPrefix.clear();
        else
            recordPrefix += '/';
    }
    std::string nativePrefix = source;
    if (nativePrefix.back() != '/')
        nativePrefix += '/';

    // An update reads only the files that may have changed since the
    // reference; the others keep their stored records unread.
    const bool stamping = stampsWanted || updatedFrom;
    const long long settled = reference - timeTolerance;
    // A rolling scrub likewise reads only its slice and the files it
    // has no record of.
    const std::vector<HashRecord> *known = updatedFrom ? updatedFrom
                                           : sliceCount != 0 ? slicedFrom : nullptr;
    // Those decide from the listing as a whole, which a streaming scan
    // does not keep.
    streaming = streaming && !known;
    std::unordered_map<std::string, std::size_t> storedAt;
    std::vector<const HashRecord *> storedOf;
    std::vector<bool> unread;
    if (known) {
        storedAt.reserve(known->size());
        for (std::size_t k = 0; k < known->size(); ++k)
            storedAt.emplace((*known)[k].path, k);
    }
    // Decides for the next listed file, i; true when it has to be read.
    const auto plan = [&](std::size_t i) {
        std::size_t length = 0;
        const char *below = listing.below(i, length);
        std::string path = recordPrefix;
        path.append(below, length);
        const auto found = storedAt.find(path);
        const HashRecord *record = found == storedAt.end() ? nullptr : &(*known)[found->second];
        bool keepUnread = false;
        if (record && !updatedFrom) {
            keepUnread = sliceOf(path, sliceCount) != readSlice;
        } else if (record) {
            // The inode time too: restoring an old modification time after
            // a write leaves it behind, which no bit flip does.
            const FileStamp now = stampBelow(listing.rootDescriptor(), nativePrefix, below, length);
            keepUnread = now.known && now.modified <= settled && now.changed <= settled;
        }
        storedOf.push_back(record);
        unread.push_back(keepUnread);
        return !keepUnread;
    };

    // The first file that could not be hashed, reported once the listing
    // has had its say.
    std::string failedFile;
    std::string failure;
    // Takes a file's outcome in listing order; false when the run is over.
    const auto keep = [&](const std::string &below, std::size_t i, std::string &path, std::string &digest,
                          const std::string &error, const FileStamp &before, bool changed) {
        if (!error.empty()) {
            if (!report)
                return true;
            failedFile = nativePrefix + below;
            failure = error;
            return false;
        }
        if (digest.empty())
            return true;
        if (updatedFrom) {
            const HashRecord *record = storedOf[i];
            if (!record) {
                ++updateCounts->added;
            } else if (record->hash != digest && !changed && before.known && before.modified <= settled) {
                // Possibly damaged: the stored digest stays, so that the
                // next verify still shows it.
                updateCounts->heldBack.push_back(path);
                digest = record->hash;
            } else {
                ++updateCounts->rehashed;
            }
        }
        return sink(path, digest, before, changed);
    };
    const auto fileFailed = [&]() {
        if (failure == hashwrapper::cannotReadMessage(failedFile))
            report->reportPathError(QString::fromStdString(failure), tr("Cannot read file \"%1\"."), failedFile);
        else
            report->reportError(QString::fromStdString(failure));
    };
    // A file whose stored record is kept without reading it: an unread file
    // has no status, and with its stored digest no difference to judge.
    const auto keepStored = [&](std::size_t i, std::string &path) {
        if (updateCounts)
            ++updateCounts->kept;
        std::string digest = storedOf[i]->hash;
        return sink(path, digest, FileStamp(), false);
    };
    // The record's path, announced as the file's outcome is taken.
    std::string path;
    const auto announce = [&](const char *below, std::size_t length) {
        path = recordPrefix;
        path.append(below, length);
        if (report)
            report->reportFileBytes(path);
    };
    bool stopped = false;
    const auto canceled = [&]() {
        stopped = stopped || (report && report->isCanceled());
        return stopped;
    };
    const auto listingFailed = [&]() {
        if (listing.descriptorShortage() != 0)
            throw std::system_error(listing.descriptorShortage(), std::generic_category());
        if (!report)
            return false;
        if (listing.failure() == TreeListing::Failure::IgnoreFile) {
            report->reportError(listing.ignoreRules().errorText());
            return false;
        }
        const std::string &path = listing.failedPath();
        const QString shown = QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path)));
        const QString format = listing.failure() == TreeListing::Failure::LineFeedInName
            ? tr("File name \"%1\" contains a line feed and cannot be stored in a checksums file.")
            : tr("Cannot read directory \"%1\".");
        report->reportPathError(format.arg(shown), format, path);
        return false;
    };
    const auto noteChecksumsFile = [&]() {
        for (const std::string &below : listing.skippedPaths())
            checksumsFileRecords.push_back(recordPrefix + below);
        ignoreRules = listing.ignoreRules();
        ignoredPrefix = recordPrefix;
    };

#if defined(Q_OS_UNIX)
    const bool parallel = jobCount != 1;
#else
    const bool parallel = false;
#endif
    std::unique_ptr<ScanPipeline> pipeline;
    if (parallel) {
        const std::string name = algorithm;
        ScanPipeline::Settings settings = ScanPipeline::settingsFor(source, jobCount);
        settings.stampFiles = stamping;
        try {
            pipeline = std::make_unique<ScanPipeline>(
                nativePrefix, [&name] { return hashfactory().makeWrapper(name); }, settings,
                listing.rootDescriptor());
        } catch (const std::system_error &) {
            // Not one worker could start: the files are hashed on this
            // thread instead.
        }
    }
    if (!pipeline) {
        if (!listing.list(report != nullptr))
            return listingFailed();
        noteChecksumsFile();
        const std::size_t count = listing.size();
        if (report)
            report->reportStart(static_cast<int>(count));
        if (known) {
            for (std::size_t i = 0; i < count; ++i)
                plan(i);
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t length = 0;
            const char *below = listing.below(i, length);
            announce(below, length);
            if (canceled())
                return false;
            if (known && unread[i]) {
                if (!keepStored(i, path))
                    return false;
                continue;
            }
            CancelProbe probe(report);
            const std::string file = nativePrefix + std::string(below, length);
            std::string digest;
            std::string error;
            FileStamp before;
            bool changed = false;
            try {
                digest = hashOneFile(listing.rootDescriptor(), file, nativePrefix.size(), stamping,
                                     before, changed, [&] { return probe.keepGoing(); });
            } catch (const hlException &failure) {
                error = failure.messageText();
            }
            if (probe.wasCanceled())
                return false;
            if (!keep(std::string(below, length), i, path, digest, error, before, changed)) {
                if (!failure.empty())
                    fileFailed();
                return false;
            }
        }
        if (report)
            report->reportFinish();
        return true;
    }

    // The workers start on the first directory's files while the rest of
    // the tree is still being listed. A streaming scan lists on a thread of
    // its own and forgets each path once the pipeline has it, so that its
    // memory does not grow with the tree; the file count then comes last,
    // unless it is wanted first: then the listing never waits, and the
    // paths are held once, by the pipeline, until they are taken.
    ListingThread lister(listing, *pipeline);
    std::size_t handedIn = 0;
    listing.setListedHandler([&](std::size_t listed) {
        for (; handedIn < listed; ++handedIn) {
            if (known && !plan(handedIn))
                continue;
            std::size_t length = 0;
            const char *below = listing.below(handedIn, length);
            pipeline->add(below, length);
        }
        pipeline->publish();
        return lister.wanted();
    });
    listing.setDescriptorWait([&] { return pipeline->waitForDescriptor(); });
    if (streaming) {
        listing.setForgetsListed(true);
        pipeline->setListAhead(countFirst ? 0 : listAhead);
        if (!lister.start(report != nullptr)) {
            listing.setForgetsListed(false);
            pipeline->setListAhead(0);
            streaming = false;
        }
    }
    std::size_t count = 0;
    if (!streaming) {
        if (!listing.list(report != nullptr))
            return listingFailed();
        noteChecksumsFile();
        pipeline->finish();
        count = listing.size();
        if (report)
            report->reportStart(static_cast<int>(count));
    }

    const std::function<bool()> stillWanted = [&] { return !canceled(); };
    // A tree that the listing holds whole is counted before its first file
    // is reported, as where it is listed first; only a larger one reports
    // its count once it is known.
    bool countTold = !streaming;
    if (streaming && report) {
        countTold = pipeline->waitUntilListed(stillWanted);
        if (stopped)
            return false;
        // A listing that failed before the first file is reported fails the
        // scan before it, as where the tree is listed first.
        if (countTold) {
            lister.join();
            if (!lister.succeeded())
                return listingFailed();
        }
        report->reportStart(countTold ? static_cast<int>(listing.size()) : -1);
    }
    std::string below;
    for (std::size_t i = 0; streaming || i < count; ++i) {
        if (streaming) {
            if (!pipeline->nextPath(below, stillWanted)) {
                if (stopped)
                    return false;
                break;
            }
            if (report && !countTold && lister.isDone()) {
                countTold = true;
                report->reportFileCount(static_cast<int>(listing.size()));
            }
            announce(below.data(), below.size());
        } else {
            std::size_t length = 0;
            const char *at = listing.below(i, length);
            below.assign(at, length);
            announce(at, length);
            if (known && unread[i]) {
                if (canceled() || !keepStored(i, path))
                    return false;
                continue;
            }
        }
        ScanPipeline::Result result;
        if (!pipeline->take(result, stillWanted))
            return false;
        if (result.failure)
            std::rethrow_exception(result.failure);
        if (result.shortage == ENOMEM)
            throw std::bad_alloc();
        if (result.shortage != 0)
            throw std::system_error(result.shortage, std::generic_category());
        if (canceled())
            return false;
        if (!keep(below, i, path, result.digest, result.error, result.before,
                  result.after.differsFrom(result.before))) {
            if (failure.empty())
                return false;
            // A directory that cannot be read fails the scan before any
            // file does, as where the whole tree is listed first.
            if (streaming) {
                lister.end(false);
                if (!lister.succeeded() && listing.failure() != TreeListing::Failure::Stopped)
                    return listingFailed();
            }
            fileFailed();
            return false;
        }
    }
    if (streaming) {
        lister.end(false);
        if (!lister.succeeded())
            return listingFailed();
        noteChecksumsFile();
        if (report && !countTold)
            report->reportFileCount(static_cast<int>(listing.size()));
    }
    if (report)
        report->reportFinish();
    return true;
}

std::string HashTools::hashOneFile(int rootFd, const std::string &file, std::size_t belowOffset, bool stamping,
                                   FileStamp &before, bool &changed, const std::function<bool()> &keepGoing)
{
#if defined(Q_OS_UNIX)
    long long size = 0;
    const int fd = hashwrapper::openRegularFileBelow(rootFd, file, belowOffset, &size);
    if (fd < 0)
        throw hlException(1, hashwrapper::cannotReadMessage(file));
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
#if defined(POSIX_FADV_SEQUENTIAL) && defined(__linux__)
    // A larger read-ahead window helps a file that is not in memory.
    if (size > 1024 * 1024)
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    if (stamping)
        before = FileStamp::ofOpen(fd);
    std::string digest = hasher->digestOfOpenFile(fd, size, file, size >= hashwrapper::overlapFileSize, keepGoing);
    if (stamping)
        changed = FileStamp::ofOpen(fd).differsFrom(before);
    return digest;
#else
    (void)rootFd;
    (void)belowOffset;
    (void)stamping;
    (void)before;
    (void)changed;
    return hasher->digestOfFileWhile(file, keepGoing);
#endif
}

void HashTools::updateHashes(const std::string &sourceDir, const std::vector<HashRecord> &stored,
                             long long referenceTime, std::vector<HashRecord> &records,
                             UpdateCounts &counts, ICreateHashReport *report,
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
    calculateHashes(sourceDir, records, report, checksumFile, true);

    // Every stored path the tree no longer holds is dropped.
    std::unordered_map<std::string, bool> seen;
    seen.reserve(stored.size());
    for (const HashRecord &record : stored)
        seen.emplace(record.path, false);
    for (const HashRecord &record : records) {
        const auto found = seen.find(record.path);
        if (found != seen.end())
            found->second = true;
    }
    for (const auto &entry : seen)
        counts.removed += entry.second ? 0 : 1;
}

void HashTools::setSlice(const std::vector<HashRecord> *stored, unsigned slice, unsigned slices)
{
    slicedFrom = stored;
    readSlice = slice;
    sliceCount = stored ? slices : 0;
}

unsigned HashTools::sliceOf(const std::string &recordPath, unsigned slices)
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : recordPath) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return slices == 0 ? 0 : static_cast<unsigned>(hash % slices) + 1;
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
#if defined(Q_OS_UNIX)
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
#if defined(Q_OS_UNIX)
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
        } else if (before->hash != now.hash) {
            auto difference = std::make_unique<CE_HashDiff>(now.path, now.hash, before->hash);
            // Stamps belong to the last scan's records, in their order.
            const std::size_t at = static_cast<std::size_t>(&now - current.data());
            if (stampsBefore.size() == current.size() && at < current.size())
                difference->damaged = mayBeDamaged(stampsBefore[at], changedWhileRead[at]);
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

bool HashTools::mayBeDamaged(const FileStamp &before, bool changedWhileRead) const
{
    return reference != 0 && before.known && !changedWhileRead && before.modified <= reference - timeTolerance;
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
    if (stored.digestIs(record, digest))
        return;
    auto difference = std::make_unique<CE_HashDiff>(path, digest, stored.digest(record));
    difference->damaged = mayBeDamaged(before, changedWhileRead);
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
