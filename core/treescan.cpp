#include "treescan.h"

#include "icreatehashreport.h"
#include "listingthread.h"
#include "pathbytes.h"
#include "scanpipeline.h"
#include "steadyhash.h"
#include "storedindex.h"
#include "treelisting.h"

#include "hashfactory.h"
#include "hashwrapper.h"
#include "hlexception.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#if defined(ORVALEN_POSIX)
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

} // namespace

TreeScan::TreeScan(hashwrapper &hasher, std::string algorithm, const Options &options, ICreateHashReport *report)
    : hasher(hasher), algorithm(std::move(algorithm)), options(options), report(report),
      plan(options.known, options.accepted, options.settled, options.slice, options.slices)
{
}

TreeScan::~TreeScan() = default;

// The stages of a scan, each file passing them in this order:
//  1. list: the tree's files in name order (TreeListing, treelisting.cpp), on
//     a thread of its own while the files are read (ListingThread,
//     listingthread.cpp);
//  2. decide what to read: every file, or with the records of an earlier
//     checksums file those an update or a slice reads (ReadPlan,
//     readplan.cpp);
//  3. open: the pipeline's openers ahead of the hashers, or the hashers
//     themselves while the files are in memory (scanworkers.cpp), handed
//     on in listing order (ScanQueue, scanqueue.cpp), with as many threads
//     as the device and the process allow (DevicePolicy, devicepolicy.cpp);
//  4. read and 5. hash: each file read to its end and hashed, again while it
//     changed meanwhile (SteadyHash, steadyhash.cpp);
//  6. deliver in order: the caller takes the results in listing order
//     (ScanPipeline, scanpipeline.cpp) and judges each (deliver, below);
//  7. write or compare: the sink, a checksums file's writer or a stored
//     index's compare, which the caller of the scan gives.
// With one job the same stages run one file at a time on the calling
// thread (runSerially).
bool TreeScan::run(const std::string &sourceDir, const std::string &checksumFile,
                   const ScanRecords::RecordSink &recordSink)
{
    sink = &recordSink;
    listing = std::make_unique<TreeListing>(sourceDir, checksumFile, options.recordsToBeWritten);
    if (options.unreadable) {
        listing->setUnreadableHandler([this](const std::string &below, int error, std::size_t listedBefore) {
            std::lock_guard<std::mutex> guard(directoriesLock);
            failedDirectories.emplace_back(listedBefore,
                                           ReadFailure{ReadFailure::Kind::Directory, prefix + below, error});
            directoriesFailed = failedDirectories.size();
        });
    }
    // Below an absolute source directory a record's path is the path below
    // it; a relative source directory stays at the front of every path, as
    // QDir::relativeFilePath leaves a relative path.
    const std::string &source = listing->sourcePath();
    if (!options.recordsBelowSource && !isAbsolute(source)) {
        prefix = PathBytes::clean(source);
        if (prefix == ".")
            prefix.clear();
        else
            prefix += '/';
    }
    nativePrefix = source;
    if (nativePrefix.back() != '/')
        nativePrefix += '/';
    plan.setTree(prefix, nativePrefix, listing->rootDescriptor());

#if defined(ORVALEN_POSIX)
    if (options.jobs != 1) {
        const ScanPipeline::Settings settings = ScanPipeline::settingsFor(source, options.jobs);
        // QDir takes a directory it could not open for an empty one, and the
        // workers may hold the last descriptors the process has: Qt's
        // listing ends before the first worker starts.
        if (!TreeListing::keepsNameBytes) {
            if (!listing->list(report != nullptr))
                return listingFailed();
            listedFirst = true;
        }
        std::unique_ptr<ScanPipeline> pipeline;
        try {
            const std::string &name = algorithm;
            if (settings.hashers > 0)
                pipeline = std::make_unique<ScanPipeline>(
                    nativePrefix, [&name] { return hashfactory().makeWrapper(name); }, settings,
                    listing->rootDescriptor());
        } catch (const std::system_error &) {
            // Not one worker could start, or there was no memory for them:
            // the files are hashed on this thread instead.
        } catch (const std::bad_alloc &) {
        }
        if (pipeline)
            return runPipelined(*pipeline);
    }
#endif
    return runSerially();
}

void TreeScan::announce(const char *below, std::size_t length)
{
    path = prefix;
    path.append(below, length);
    if (report)
        report->reportFileBytes(path);
}

bool TreeScan::canceled()
{
    stopped = stopped || (report && report->isCanceled());
    return stopped;
}

bool TreeScan::deliverDirectories(bool all)
{
    while (directoriesDelivered < directoriesFailed.load()) {
        ReadFailure failed;
        {
            std::lock_guard<std::mutex> guard(directoriesLock);
            const auto &next = failedDirectories[directoriesDelivered];
            if (!all && next.first > delivered)
                return true;
            failed = next.second;
        }
        ++directoriesDelivered;
        if (!(*options.unreadable)(failed))
            return false;
    }
    return true;
}

bool TreeScan::deliver(const std::string &below, std::string &digest, int error,
                       const FileStamp &before, bool changed, bool unread)
{
    if (options.unreadable && !deliverDirectories(false))
        return false;
    ++delivered;
    if (error != 0) {
        if (options.unreadable)
            return (*options.unreadable)(ReadFailure{ReadFailure::Kind::File, path, error});
        if (!report)
            return true;
        failedFile = nativePrefix + below;
        failure = error;
        return false;
    }
    const std::size_t record = options.known ? options.known->find(path.data(), path.size()) : StoredIndex::none;
    if (record != StoredIndex::none)
        options.known->markSeen(record);
    if (unread) {
        // No status: an unread file has no difference to judge.
        digest = plan.keptDigest(record, options.update);
        return (*sink)(path, digest, FileStamp(), false);
    }
    if (digest.empty())
        return true;
    if (options.update) {
        if (record == StoredIndex::none) {
            ++options.update->added;
        } else if (!options.known->digestIs(record, digest)
                   && ScanRecords::mayBeDamaged(digest, options.known->digest(record), before, changed,
                                                options.reference, options.scanStart)) {
            // Possibly damaged: the stored digest stays, so that the next
            // verify still shows it, unless the file was named to accept.
            std::string stored = options.known->digest(record);
            if (options.accepted && options.accepted->count(path) != 0) {
                options.update->accepted.push_back({path, std::move(stored), digest});
                ++options.update->rehashed;
            } else {
                options.update->heldBack.push_back({path, stored, digest});
                digest = ScanRecords::digestAsWritten(std::move(stored));
            }
        } else {
            ++options.update->rehashed;
        }
    }
    return (*sink)(path, digest, before, changed);
}

bool TreeScan::listingFailed()
{
    if (listing->descriptorShortage() != 0)
        throw std::system_error(listing->descriptorShortage(), std::generic_category());
    if (!report)
        return false;
    if (listing->failure() == TreeListing::Failure::IgnoreFile) {
        report->reportError(listing->ignoreRules().errorText());
        return false;
    }
    const std::string &failedPath = listing->failedPath();
    const QString shown = QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(failedPath)));
    const QString format = listing->failure() == TreeListing::Failure::LineFeedInName
        ? tr("File name \"%1\" contains a line feed and cannot be stored in a checksums file.")
        : tr("Cannot read directory \"%1\".");
    report->reportPathError(format.arg(shown), format, failedPath);
    return false;
}

void TreeScan::fileFailed()
{
    // The window shows the hashing code's own text, untranslated, as ever.
    report->reportPathError(QString::fromStdString(hashwrapper::cannotReadMessage(failedFile)),
                            tr("Cannot read file \"%1\"."), failedFile);
}

void TreeScan::listingEnded()
{
    for (const std::string &below : listing->skippedPaths())
        skippedRecords.push_back(prefix + below);
    rules = listing->ignoreRules();
}

bool TreeScan::runSerially()
{
    if (!listedFirst && !listing->list(report != nullptr))
        return listingFailed();
    listingEnded();
    const std::size_t count = listing->size();
    if (report)
        report->reportStart(static_cast<int>(count));
    std::string planned;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t length = 0;
        const char *at = listing->below(i, length);
        const std::string below(at, length);
        announce(at, length);
        if (canceled())
            return false;
        std::string digest;
        int error = 0;
        FileStamp before;
        bool changed = false;
        bool changing = false;
        if (!plan.toBeRead(at, length, planned)) {
            if (!deliver(below, digest, error, before, changed, true))
                return false;
            continue;
        }
        CancelProbe probe(report);
        try {
            digest = SteadyHash::ofFile(hasher, listing->rootDescriptor(), nativePrefix + below, nativePrefix.size(),
                                        before, changed, changing, [&] { return probe.keepGoing(); });
        } catch (const hlException &failed) {
            error = failed.errorNumber != 0 ? failed.errorNumber : EIO;
        }
        if (probe.wasCanceled())
            return false;
        if (changing)
            changingPaths.push_back(path);
        if (!deliver(below, digest, error, before, changed, false)) {
            if (failure != 0)
                fileFailed();
            return false;
        }
    }
    if (options.unreadable && !deliverDirectories(true))
        return false;
    if (report)
        report->reportFinish();
    return true;
}

bool TreeScan::runPipelined(ScanPipeline &pipeline)
{
    // The workers start on the first directory's files while the rest of
    // the tree is still being listed, on a thread of its own. The listing
    // forgets each path once the pipeline has it, and the pipeline once the
    // file is taken, so that memory does not grow with the tree; the count
    // of files then comes last, unless it is wanted first: then the listing
    // never waits, and the paths are held once, until they are taken.
    // Whatever the listing thread touches is declared before the lister,
    // whose destructor stops and joins it: on every way out, a cancel and
    // an exception too, the thread has ended before any of it goes away.
    std::size_t handedIn = 0;
    std::string planned;
    ListingThread lister(*listing, pipeline);
    const auto handIn = [&](std::size_t listed) {
        for (; handedIn < listed; ++handedIn) {
            std::size_t length = 0;
            const char *below = listing->below(handedIn, length);
            pipeline.add(below, length, plan.toBeRead(below, length, planned));
        }
        pipeline.publish();
        return lister.wanted();
    };
    listing->setListedHandler(handIn);
    listing->setDescriptorWait([&pipeline] { return pipeline.waitForDescriptor(); });
    listing->setForgetsListed(!listedFirst);
    pipeline.setListAhead(options.countFirst ? 0 : options.listAhead);
    const bool threaded = !listedFirst && lister.start(report != nullptr);
    if (!threaded) {
        pipeline.setListAhead(0);
        if (listedFirst)
            handIn(listing->size());
        else if (!listing->list(report != nullptr))
            return listingFailed();
        pipeline.finish();
    }

    const std::function<bool()> stillWanted = [this] { return !canceled(); };
    // A tree that the listing holds whole is counted before its first file
    // is reported; only a larger one reports its count once it is known.
    bool counted = true;
    if (report) {
        counted = !threaded || pipeline.waitUntilListed(stillWanted);
        if (stopped)
            return false;
        // A listing that failed before the first file is reported fails the
        // scan before it, as where the tree is listed first.
        if (threaded && counted) {
            lister.join();
            if (!lister.succeeded())
                return listingFailed();
        }
        report->reportStart(counted ? static_cast<int>(listing->size()) : -1);
    }

    // Results that are there are taken many at a time, which spares the
    // workers a lock for each; the next one is awaited only once announced.
    // The results are used where they lie, so that their strings go back to
    // the pipeline with the next batch instead of being freed.
    std::vector<ScanPipeline::Taken> ready;
    std::size_t readyCount = 0;
    std::size_t nextReady = 0;
    std::string below;
    ScanPipeline::Result awaited;
    for (;;) {
        if (nextReady == readyCount) {
            nextReady = 0;
            readyCount = pipeline.takeReady(ready, 64);
        }
        const bool wasReady = nextReady < readyCount;
        ScanPipeline::Result &result = wasReady ? ready[nextReady].result : awaited;
        if (wasReady) {
            below.swap(ready[nextReady].below);
            ++nextReady;
        } else if (!pipeline.nextPath(below, stillWanted)) {
            break;
        }
        if (report && !counted && lister.isDone()) {
            counted = true;
            report->reportFileCount(static_cast<int>(listing->size()));
        }
        announce(below.data(), below.size());
        if (!wasReady && !pipeline.take(awaited, stillWanted))
            return false;
        if (result.failure)
            std::rethrow_exception(result.failure);
        bool changed = result.after.differsFrom(result.before);
        if (result.shortage == ENOMEM && !result.unread) {
            // A worker found no memory for the file: this thread, whose
            // own is there already, reads it instead, one job fewer.
            result = ScanPipeline::Result();
            changed = false;
            CancelProbe probe(report);
            try {
                result.digest = SteadyHash::ofFile(hasher, listing->rootDescriptor(), nativePrefix + below,
                                                   nativePrefix.size(), result.before, changed, result.changing,
                                                   [&] { return probe.keepGoing(); });
            } catch (const hlException &failed) {
                result.error = failed.errorNumber != 0 ? failed.errorNumber : EIO;
            }
            if (probe.wasCanceled())
                return false;
        }
        if (result.shortage == ENOMEM)
            throw std::bad_alloc();
        if (result.shortage != 0)
            throw std::system_error(result.shortage, std::generic_category());
        if (canceled())
            return false;
        if (result.changing)
            changingPaths.push_back(path);
        if (!deliver(below, result.digest, result.error, result.before, changed, result.unread)) {
            if (failure == 0)
                return false;
            // A directory that cannot be read fails the scan before any
            // file does, as where the whole tree is listed first.
            lister.end(false);
            if (threaded && !lister.succeeded() && listing->failure() != TreeListing::Failure::Stopped)
                return listingFailed();
            fileFailed();
            return false;
        }
    }
    if (stopped)
        return false;
    lister.end(false);
    if (threaded && !lister.succeeded())
        return listingFailed();
    if (options.unreadable && !deliverDirectories(true))
        return false;
    listingEnded();
    if (report && !counted)
        report->reportFileCount(static_cast<int>(listing->size()));
    if (report)
        report->reportFinish();
    return true;
}
