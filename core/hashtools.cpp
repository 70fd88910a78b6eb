#include "hashtools.h"

#include "checksumfile.h"
#include "compareerr.h"
#include "icreatehashreport.h"
#include "largepages.h"
#include "pathbytes.h"
#include "pathindex.h"
#include "scanpipeline.h"
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
    // Threads, memory and descriptors run out on a small machine or under
    // a container's limits: that ends the run with an error, never the
    // process with an abort.
    QString reason;
    try {
        hashTree(sourceDir, records, report, checksumFile, recordsBelowSource);
        return;
    } catch (const std::bad_alloc &) {
        if (!report)
            throw;
        reason = tr("not enough memory");
    } catch (const std::system_error &failure) {
        if (!report)
            throw;
        reason = QString::fromLocal8Bit(failure.code().message().c_str());
    }
    records.clear();
    report->reportError(tr("Not enough system resources to hash the tree: %1.").arg(reason));
}

void HashTools::hashTree(const std::string &sourceDir, std::vector<HashRecord> &records,
                         ICreateHashReport *report, const std::string &checksumFile,
                         bool recordsBelowSource)
{
    records.clear();
    checksumsFileRecords.clear();
    ignoreRules = IgnoreRules();
    stampsBefore.clear();
    changedWhileRead.clear();
    if (!hasher) {
        if (report)
            report->reportError(tr("Unsupported hash algorithm \"%1\".")
                                    .arg(QString::fromStdString(algorithm)));
        return;
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

    // Takes a file's outcome in listing order; false when the run is over.
    const auto keep = [&](std::size_t i, std::string &path, std::string digest, const std::string &error,
                          const FileStamp &before, bool changed) {
        if (!error.empty()) {
            if (!report)
                return true;
            records.clear();
            std::size_t length = 0;
            const char *below = listing.below(i, length);
            const std::string file = nativePrefix + std::string(below, length);
            if (error == hashwrapper::cannotReadMessage(file))
                report->reportPathError(QString::fromStdString(error), tr("Cannot read file \"%1\"."), file);
            else
                report->reportError(QString::fromStdString(error));
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
        records.push_back(HashRecord{std::move(path), std::move(digest)});
        if (stampsWanted) {
            stampsBefore.push_back(before);
            changedWhileRead.push_back(changed);
        }
        return true;
    };
    // A file whose stored record is kept without reading it.
    const auto keepStored = [&](std::size_t i, std::string &path) {
        if (updateCounts)
            ++updateCounts->kept;
        records.push_back(HashRecord{std::move(path), storedOf[i]->hash});
        // compare finds each record's status at its index; an unread file
        // has none, and with its stored digest no difference to judge.
        if (stampsWanted) {
            stampsBefore.emplace_back();
            changedWhileRead.push_back(false);
        }
    };
    // The record's path, announced before the file's outcome is taken.
    const auto announce = [&](std::size_t i) {
        std::size_t length = 0;
        const char *below = listing.below(i, length);
        std::string path = recordPrefix;
        path.append(below, length);
        if (report)
            report->reportFileBytes(path);
        return path;
    };
    const auto canceled = [&]() {
        if (report && report->isCanceled()) {
            records.clear();
            return true;
        }
        return false;
    };
    // The whole tree is listed before the first file is reported, so that
    // the count is known.
    const auto start = [&]() {
        const std::size_t count = listing.size();
        if (report)
            report->reportStart(static_cast<int>(count));
        records.reserve(count);
        adviseLargePages(records.data(), count * sizeof(HashRecord));
        return count;
    };
    const auto listingFailed = [&]() {
        if (listing.descriptorShortage() != 0)
            throw std::system_error(listing.descriptorShortage(), std::generic_category());
        if (!report)
            return;
        if (listing.failure() == TreeListing::Failure::IgnoreFile) {
            report->reportError(listing.ignoreRules().errorText());
            return;
        }
        const std::string &path = listing.failedPath();
        const QString shown = QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path)));
        const QString format = listing.failure() == TreeListing::Failure::LineFeedInName
            ? tr("File name \"%1\" contains a line feed and cannot be stored in a checksums file.")
            : tr("Cannot read directory \"%1\".");
        report->reportPathError(format.arg(shown), format, path);
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
        if (!listing.list(report != nullptr)) {
            listingFailed();
            return;
        }
        noteChecksumsFile();
        const std::size_t count = start();
        if (known) {
            for (std::size_t i = 0; i < count; ++i)
                plan(i);
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::string path = announce(i);
            if (canceled())
                return;
            if (known && unread[i]) {
                keepStored(i, path);
                continue;
            }
            CancelProbe probe(report);
            std::string digest;
            std::string error;
            FileStamp before;
            bool changed = false;
            try {
                std::size_t length = 0;
                const char *below = listing.below(i, length);
#if defined(Q_OS_UNIX)
                if (stamping) {
                    const std::string file = nativePrefix + std::string(below, length);
                    long long size = 0;
                    const int fd = hashwrapper::openRegularFileBelow(listing.rootDescriptor(), file,
                                                                     nativePrefix.size(), &size);
                    if (fd < 0) {
                        error = hashwrapper::cannotReadMessage(file);
                    } else {
                        struct Closer
                        {
                            int fd;
                            ~Closer() { ::close(fd); }
                        } closer{fd};
                        before = FileStamp::ofOpen(fd);
                        digest = hasher->digestOfOpenFile(fd, size, file, size >= hashwrapper::overlapFileSize,
                                                          [&] { return probe.keepGoing(); });
                        changed = FileStamp::ofOpen(fd).differsFrom(before);
                    }
                } else {
                    digest = hasher->digestOfFileBelowWhile(listing.rootDescriptor(),
                                                            nativePrefix + std::string(below, length),
                                                            nativePrefix.size(), [&] { return probe.keepGoing(); });
                }
#else
                digest = hasher->digestOfFileWhile(nativePrefix + std::string(below, length),
                                                   [&] { return probe.keepGoing(); });
#endif
            } catch (const hlException &failure) {
                error = failure.messageText();
            }
            if (probe.wasCanceled()) {
                records.clear();
                return;
            }
            if (!keep(i, path, std::move(digest), error, before, changed))
                return;
        }
    } else {
        // The workers start on the first directory's files while the rest
        // of the tree is still being listed.
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
        });
        listing.setDescriptorWait([&] { return pipeline->waitForDescriptor(); });
        if (!listing.list(report != nullptr)) {
            listingFailed();
            return;
        }
        noteChecksumsFile();
        pipeline->finish();

        const std::size_t count = start();
        const std::function<bool()> stillWanted = [&] { return !canceled(); };
        for (std::size_t i = 0; i < count; ++i) {
            std::string path = announce(i);
            if (known && unread[i]) {
                if (canceled())
                    return;
                keepStored(i, path);
                continue;
            }
            ScanPipeline::Result result;
            if (!pipeline->take(result, stillWanted))
                return;
            if (result.failure)
                std::rethrow_exception(result.failure);
            if (result.shortage == ENOMEM)
                throw std::bad_alloc();
            if (result.shortage != 0)
                throw std::system_error(result.shortage, std::generic_category());
            if (canceled())
                return;
            if (!keep(i, path, std::move(result.digest), result.error, result.before,
                      result.after.differsFrom(result.before)))
                return;
        }
    }

    if (report)
        report->reportFinish();
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
        if (!writer.commit(records))
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

std::string HashTools::loadDB(const std::string &fileName, std::vector<HashRecord> &records)
{
    if (!hasher)
        return std::string();
    const std::size_t kept = records.size();
    try {
        if (ChecksumFile::read(fileName, records)) {
#if defined(Q_OS_UNIX)
            struct stat info;
            reference = ::stat(fileName.c_str(), &info) == 0 ? FileStamp::of(info).modified : 0;
#endif
            std::string digest = digestOrEmpty(fileName);
            if (!digest.empty())
                return digest;
        }
    } catch (...) {
    }
    records.resize(kept);
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
        if (!before)
            errors.push_back(std::make_unique<CE_NewFile>(now.path));
        else if (before->hash != now.hash) {
            auto difference = std::make_unique<CE_HashDiff>(now.path, now.hash, before->hash);
            // Stamps belong to the last scan's records, in their order.
            const std::size_t at = static_cast<std::size_t>(&now - current.data());
            if (reference != 0 && stampsBefore.size() == current.size() && at < current.size()) {
                const FileStamp &stamp = stampsBefore[at];
                difference->damaged = stamp.known && !changedWhileRead[at]
                                      && stamp.modified <= reference - timeTolerance;
            }
            errors.push_back(std::move(difference));
        }
    });

    index.assign(current);
    index.lookUp(stored, [&](const HashRecord &before, const HashRecord *now) {
        if (!now
            && std::find(checksumsFileRecords.begin(), checksumsFileRecords.end(), before.path)
                   == checksumsFileRecords.end()
            && !isIgnored(before.path))
            errors.push_back(std::make_unique<CE_AbsentFile>(before.path));
    });
}

bool HashTools::isIgnored(const std::string &recordPath) const
{
    if (ignoreRules.isEmpty() || recordPath.compare(0, ignoredPrefix.size(), ignoredPrefix) != 0)
        return false;
    return ignoreRules.excluded(recordPath.data() + ignoredPrefix.size(),
                                recordPath.size() - ignoredPrefix.size(), false);
}

std::vector<std::pair<std::size_t, std::size_t>>
HashTools::findMoves(const std::vector<HashRecord> &current, const std::vector<HashRecord> &stored,
                     const std::vector<std::unique_ptr<CompareErr>> &errors)
{
    std::unordered_map<std::string, const std::string *> digestOf;
    for (const std::unique_ptr<CompareErr> &error : errors) {
        if (error->type == CompareErr::NewFile || error->type == CompareErr::AbsentFile)
            digestOf.emplace(error->path, nullptr);
    }
    if (digestOf.empty())
        return {};
    // A new file's digest is its current one, a missing file's the stored
    // one; the first record of a path is the one compared.
    const auto note = [&digestOf](const std::vector<HashRecord> &records) {
        for (const HashRecord &record : records) {
            const auto found = digestOf.find(record.path);
            if (found != digestOf.end() && !found->second)
                found->second = &record.hash;
        }
    };
    std::unordered_map<std::string, std::size_t> firstNew;
    note(current);
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i]->type != CompareErr::NewFile)
            continue;
        const std::string *digest = digestOf[errors[i]->path];
        if (digest)
            firstNew.emplace(*digest, i);
    }
    for (auto &entry : digestOf)
        entry.second = nullptr;
    note(stored);

    std::vector<std::pair<std::size_t, std::size_t>> moves;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i]->type != CompareErr::AbsentFile)
            continue;
        const std::string *digest = digestOf[errors[i]->path];
        if (!digest)
            continue;
        const auto found = firstNew.find(*digest);
        if (found == firstNew.end())
            continue;
        moves.emplace_back(found->second, i);
        firstNew.erase(found);
    }
    std::sort(moves.begin(), moves.end());
    return moves;
}
