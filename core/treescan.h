#pragma once

#include "filestamp.h"
#include "ignorerules.h"
#include "readfailure.h"
#include "readplan.h"
#include "scanrecords.h"

#include <QCoreApplication>

#include <cstddef>
#include <functional>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class hashwrapper;
class ICreateHashReport;
class ScanPipeline;
class StoredIndex;
class TreeListing;

// One scan of a tree: lists it, hashes the files to be read, and hands each
// record to a sink in listing order. Its messages are the engine's own.
class TreeScan
{
    Q_DECLARE_TR_FUNCTIONS(HashTools)

public:
    struct Options
    {
        int jobs = 0;
        // A file whose path no checksums file line can hold fails the scan.
        bool recordsToBeWritten = false;
        // Record paths are the paths below the source directory even where
        // it is relative.
        bool recordsBelowSource = false;
        // Without a count first, the listing runs at most listAhead files
        // ahead of the file reported, and the count comes last.
        bool countFirst = true;
        std::size_t listAhead = 65536;
        // The records of an earlier checksums file: with update, a file they
        // hold that was neither written nor changed after settled keeps its
        // stored digest unread; with slices, one outside slice does.
        StoredIndex *known = nullptr;
        ScanRecords::UpdateCounts *update = nullptr;
        long long settled = 0;
        // With update: what ScanRecords::mayBeDamaged measures against.
        long long reference = 0;
        long long scanStart = 0;
        // With update: record paths read whatever their status and stored
        // even where they may be damaged.
        const std::set<std::string> *accepted = nullptr;
        unsigned slice = 0;
        unsigned slices = 0;
        // Where a file or directory that cannot be read goes, in listing
        // order among the records, instead of failing the scan; false from
        // it ends the scan as a sink's false does. None: the first fails it.
        const ScanRecords::UnreadableSink *unreadable = nullptr;
    };

    TreeScan(hashwrapper &hasher, std::string algorithm, const Options &options, ICreateHashReport *report);
    ~TreeScan();
    TreeScan(const TreeScan &) = delete;
    TreeScan &operator=(const TreeScan &) = delete;

    // True when every file reached sink and the run finished; a failure or
    // cancel is reported, a sink that answered false is not.
    bool run(const std::string &sourceDir, const std::string &checksumFile, const ScanRecords::RecordSink &sink);

    // After a run whose listing ended: where the checksums file was met, as
    // record paths, and the ignore rules with what stands before the path
    // below the source directory in record paths.
    const std::vector<std::string> &checksumsFileRecords() const { return skippedRecords; }
    const IgnoreRules &ignoreRules() const { return rules; }
    const std::string &recordPrefix() const { return prefix; }
    // The record paths of the files that changed during every read, in
    // listing order.
    std::vector<std::string> &changingRecords() { return changingPaths; }

private:
    bool runSerially();
    bool runPipelined(ScanPipeline &pipeline);
    // Takes a file's outcome in listing order; false when the run is over.
    bool deliver(const std::string &below, std::string &digest, int error,
                 const FileStamp &before, bool changed, bool unread);
    // Hands the directories that failed before the next file, or all of
    // them, to the unreadable sink; false when it ended the scan.
    bool deliverDirectories(bool all);
    void announce(const char *below, std::size_t length);
    bool canceled();
    bool listingFailed();
    void fileFailed();
    void listingEnded();

    hashwrapper &hasher;
    const std::string algorithm;
    const Options options;
    ICreateHashReport *const report;
    ReadPlan plan;
    const ScanRecords::RecordSink *sink = nullptr;
    std::unique_ptr<TreeListing> listing;
    std::string prefix;
    std::string nativePrefix;
    // The record path of the file being delivered.
    std::string path;
    bool stopped = false;
    // The tree was listed whole before the workers started.
    bool listedFirst = false;
    // The first file that could not be hashed, with its errno, reported
    // once the listing has had its say.
    std::string failedFile;
    int failure = 0;
    // Files delivered so far, and the directories the listing could not
    // read, each with the number of files listed before it; the listing
    // adds them on its own thread.
    std::size_t delivered = 0;
    std::mutex directoriesLock;
    std::vector<std::pair<std::size_t, ReadFailure>> failedDirectories;
    std::atomic<std::size_t> directoriesFailed{0};
    std::size_t directoriesDelivered = 0;
    std::vector<std::string> skippedRecords;
    IgnoreRules rules;
    std::vector<std::string> changingPaths;
};
