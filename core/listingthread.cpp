#include "listingthread.h"

#include "scanpipeline.h"
#include "treelisting.h"

#include <new>
#include <system_error>

ListingThread::~ListingThread()
{
    end(true);
}

bool ListingThread::start(bool stopAtUnreadable)
{
    try {
        thread = std::thread([this, stopAtUnreadable] {
            // The last files go out before finish(), which must not
            // throw: short of memory here, they are dropped with the
            // failure, which the scan rethrows once it has joined.
            try {
                listed = listing.list(stopAtUnreadable);
                pipeline.publish();
            } catch (...) {
                failure = std::current_exception();
                pipeline.dropUnpublished();
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

void ListingThread::end(bool abandon)
{
    if (!thread.joinable())
        return;
    if (abandon)
        abandoned = true;
    pipeline.stop();
    thread.join();
}
