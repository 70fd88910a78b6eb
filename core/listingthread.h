#pragma once

#include <atomic>
#include <exception>
#include <thread>

class ScanPipeline;
class TreeListing;

// The listing of a scan on a thread of its own: it hands the files to the
// pipeline as it finds them, and waits while the pipeline holds enough. It
// ends inside the scan whatever the outcome, abandoned where the scan ends
// early.
class ListingThread
{
public:
    ListingThread(TreeListing &listing, ScanPipeline &pipeline) : listing(listing), pipeline(pipeline) {}
    ~ListingThread();
    ListingThread(const ListingThread &) = delete;
    ListingThread &operator=(const ListingThread &) = delete;

    // False where no thread could start.
    bool start(bool stopAtUnreadable);
    // Whether the handler should go on listing.
    bool wanted() const { return !abandoned; }
    bool isDone() const { return done; }
    // Waits for a listing known to have handed in its last file.
    void join()
    {
        if (thread.joinable())
            thread.join();
    }
    // Stops the hashing and waits for the listing, which goes on to its
    // end unless abandoned; then it is safe to look at the listing.
    void end(bool abandon);
    // Once joined: whether the whole tree was listed; rethrows what the
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
