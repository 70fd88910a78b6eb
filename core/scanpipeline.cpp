#include "scanpipeline.h"

#include "hashwrapper.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>
#include <utility>

namespace {

constexpr auto askInterval = std::chrono::milliseconds(100);

// Starts a thread running work; false where the system has no thread or
// no memory for it.
template <typename Work>
bool startThread(std::vector<std::thread> &threads, Work work)
{
    try {
        threads.emplace_back(work);
        return true;
    } catch (const std::system_error &) {
    } catch (const std::bad_alloc &) {
    }
    return false;
}

} // namespace

ScanPipeline::ScanPipeline(std::string nativePrefix, const std::function<hashwrapper *()> &makeHasher,
                           const Settings &settings, int rootFd)
    : ScanQueue(std::move(nativePrefix), settings.window, settings.openAhead), settings(settings), rootFd(rootFd),
      fromMemory(settings.hashersOpenFromMemory),
      cores(std::max(1, static_cast<int>(std::thread::hardware_concurrency())))
{
    const int hasherCount = std::max(1, settings.hashers);
    for (int i = 0; i < hasherCount; ++i)
        hashers.emplace_back(makeHasher());
    threads.reserve(static_cast<std::size_t>(hasherCount + std::max(0, settings.openers)));
    // A container's process limit or a small address space refuses threads
    // well below what a many-core host asks for: the scan makes do with
    // those it gets. Nothing is published yet, so no worker has anything to
    // do while the others start.
    const std::size_t firstLate = hashers.size() - std::size_t(std::clamp(settings.lateHashers, 0, hasherCount - 1));
    for (std::size_t i = 0; i < hashers.size(); ++i) {
        hashwrapper *own = hashers[i].get();
        const bool late = i >= firstLate;
        if (!startThread(threads, [this, own, late] {
                if (!late || waitForLongScan())
                    hashLoop(own);
            }))
            break;
    }
    if (threads.empty())
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    int openersStarted = 0;
    for (int i = 0; i < settings.openers; ++i) {
        if (!startThread(threads, [this] { openLoop(); }))
            break;
        ++openersStarted;
    }
    std::lock_guard<std::mutex> guard(lock);
    openersRunning = openersStarted > 0;
    if (!openersRunning)
        fromMemory = true;
}

ScanPipeline::~ScanPipeline()
{
    stop();
}

std::unique_lock<std::mutex> ScanPipeline::locked()
{
    // With one core the holder cannot run while this one tries.
    const int tries = cores > 1 ? 200 : 0;
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    for (int tried = 0; !guard.owns_lock() && tried < tries; ++tried) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        guard.try_lock();
    }
    if (!guard.owns_lock())
        guard.lock();
    return guard;
}

void ScanPipeline::add(const char *below, std::size_t length, bool read)
{
    ScanQueue::add(below, length, read);
}

bool ScanPipeline::publish()
{
    if (nothingAdded())
        return !stopping;
    bool wakeOpener;
    bool wakeHasher;
    bool wakeCaller;
    {
        std::unique_lock<std::mutex> guard = locked();
        if (listAhead > 0 && published() - nextToTake >= listAhead) {
            listerWaiting = true;
            listingWaits.notify_all();
            roomToList.wait(guard, [&] { return stopping || published() - nextToTake < listAhead; });
            listerWaiting = false;
        }
        if (stopping) {
            guard.unlock();
            forgetAdded();
            return false;
        }
        publishAdded();
        if (lateWaiting > 0 && published() >= settings.lateAfter)
            longScan.notify_all();
        wakeOpener = openersAsleep > 0 && openable() > 0;
        wakeHasher = hashersAsleep > 0 && hasherMayOpen();
        wakeCaller = callerWaiting;
    }
    forgetAdded();
    if (wakeOpener)
        roomToOpen.notify_one();
    if (wakeHasher)
        openedInOrder.notify_one();
    // A caller that took every file published so far waits for more.
    if (wakeCaller)
        hashed.notify_one();
    return true;
}

void ScanPipeline::dropUnpublished()
{
    forgetAdded();
}

void ScanPipeline::finish()
{
    publish();
    {
        std::lock_guard<std::mutex> guard(lock);
        listed = true;
    }
    // Workers waiting for more files learn that there are none, and those
    // short of a descriptor that the listing holds none any more.
    roomToOpen.notify_all();
    openedInOrder.notify_all();
    descriptorFreed.notify_all();
    hashed.notify_all();
    listingWaits.notify_all();
}

bool ScanPipeline::waitForLongScan()
{
    std::unique_lock<std::mutex> guard(lock);
    ++lateWaiting;
    longScan.wait(guard, [this] { return stopping || published() >= settings.lateAfter; });
    --lateWaiting;
    return !stopping;
}

void ScanPipeline::setListAhead(std::size_t files)
{
    std::lock_guard<std::mutex> guard(lock);
    listAhead = files;
}

bool ScanPipeline::waitUntilListed(const std::function<bool()> &stillWanted)
{
    std::unique_lock<std::mutex> guard(lock);
    while (!listed && !listerWaiting && !stopping) {
        if (listingWaits.wait_for(guard, askInterval) == std::cv_status::timeout) {
            guard.unlock();
            if (!stillWanted())
                return false;
            guard.lock();
        }
    }
    return listed;
}

std::size_t ScanPipeline::openable() const
{
    return fromMemory ? 0 : room();
}

bool ScanPipeline::hasherMayOpen() const
{
    return fromMemory && nextToHash == nextToOpen && room() > 0;
}

bool ScanPipeline::batchFits(std::size_t free) const
{
    // A batch of files, or near the end of the list what there is.
    std::size_t batch = std::max<std::size_t>(settings.openAhead / 4, 1);
    if (listed)
        batch = std::min(batch, published() - nextToOpen);
    return free > 0 && free >= batch;
}

bool ScanPipeline::openerWanted() const
{
    return openersAsleep > 0 && batchFits(openable());
}

bool ScanPipeline::hasherWanted() const
{
    return hashersAsleep > 0 && hasherMayOpen() && batchFits(room());
}

bool ScanPipeline::setFromMemory(bool inMemory)
{
    if (fromMemory == inMemory)
        return false;
    fromMemory = inMemory;
    foundInMemory = 0;
    return true;
}

void ScanPipeline::wakeEveryone()
{
    roomToOpen.notify_all();
    openedInOrder.notify_all();
    largeFileFree.notify_all();
    hashed.notify_all();
    roomToList.notify_all();
    longScan.notify_all();
}

bool ScanPipeline::waitForLargeFileTurn(std::unique_lock<std::mutex> &guard)
{
    largeFileFree.wait(guard, [&] { return stopping || !largeFileBusy; });
    if (stopping)
        return false;
    largeFileBusy = true;
    return true;
}

void ScanPipeline::stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wakeEveryone();
    for (std::thread &thread : threads)
        thread.join();
    threads.clear();
}

void ScanPipeline::releaseDescriptor(bool wasOpen, bool byHasher)
{
    --descriptorsHeld;
    if (byHasher)
        --hashersHolding;
    // Written only under the lock: a plain store, where an atomic increment
    // would cost every file a locked instruction on a line the other
    // workers read.
    if (wasOpen)
        descriptorsReleased.store(descriptorsReleased.load(std::memory_order_relaxed) + 1,
                                  std::memory_order_release);
    if (descriptorWaiters > 0 && (wasOpen || descriptorsHeld == 0 || (byHasher && hashersHolding == 0)))
        descriptorFreed.notify_all();
}

bool ScanPipeline::waitForDescriptor()
{
    std::unique_lock<std::mutex> guard(lock);
    if (stopping || descriptorsHeld == 0)
        return false;
    const unsigned long long seen = descriptorsReleased.load(std::memory_order_acquire);
    ++descriptorWaiters;
    descriptorFreed.wait(guard, [&] {
        return stopping || descriptorsReleased != seen || descriptorsHeld == 0;
    });
    --descriptorWaiters;
    return !stopping;
}

void ScanPipeline::sendWakes(const Wakes &wakes)
{
    if (wakes.everyone)
        wakeEveryone();
    if (wakes.caller)
        hashed.notify_one();
    if (wakes.largeFileFree)
        largeFileFree.notify_one();
}

template <typename Ready>
bool ScanPipeline::waitAsCaller(std::unique_lock<std::mutex> &guard, Ready ready, bool forResult,
                                const std::function<bool()> &stillWanted)
{
    if (ready())
        return true;
    auto lastAsked = std::chrono::steady_clock::now();
    while (!ready()) {
        if (listed && nextToTake >= published())
            return false;
        if (forResult) {
            // Every other thread may be asleep, waiting for a batch of room
            // that only this caller's taking makes: then one must go on.
            if (openersAsleep > 0 && openable() > 0)
                roomToOpen.notify_one();
            if (hashersAsleep > 0 && hasherMayOpen())
                openedInOrder.notify_one();
            // Woken for thousands of results at a time, the caller costs the
            // hashers a few hundred wake-ups in a million files instead of
            // a million, each of which would also take a hasher's core
            // from it; the wait still ends every askInterval. The batch
            // grows with what was taken, so that the first files are
            // reported at once.
            const std::size_t batch = std::min<std::size_t>(
                {4096, ring.size() / 4, std::max<std::size_t>(nextToTake / 4, 64)});
            callerBatchEnd = published() > nextToTake ? std::min(nextToTake + batch, published() - 1) : nextToTake;
        }
        callerWaiting = true;
        hashed.wait_until(guard, lastAsked + askInterval);
        callerWaiting = false;
        if (ready())
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastAsked >= askInterval) {
            guard.unlock();
            if (!stillWanted())
                return false;
            guard.lock();
            lastAsked = now;
        }
    }
    return true;
}

bool ScanPipeline::nextPath(std::string &below, const std::function<bool()> &stillWanted)
{
    std::unique_lock<std::mutex> guard = locked();
    if (!waitAsCaller(guard, [this] { return nextToTake < published(); }, false, stillWanted))
        return false;
    nextBelow(below);
    return true;
}

bool ScanPipeline::take(Result &result, const std::function<bool()> &stillWanted)
{
    std::unique_lock<std::mutex> guard = locked();
    Slot &next = slot(nextToTake);
    const auto ready = [&] { return nextToTake < published() && next.state == Slot::Done; };
    if (!waitAsCaller(guard, ready, true, stillWanted))
        return false;
    takeNext(result);
    tookSome(guard);
    return true;
}

std::size_t ScanPipeline::takeReady(std::vector<Taken> &taken, std::size_t most)
{
    if (taken.size() < most)
        taken.resize(most);
    std::unique_lock<std::mutex> guard = locked();
    std::size_t count = 0;
    for (; count < most && nextToTake < published(); ++count) {
        Slot &next = slot(nextToTake);
        if (next.state != Slot::Done)
            break;
        Taken &into = taken[count];
        nextBelow(into.below);
        takeNext(into.result);
    }
    if (count > 0)
        tookSome(guard);
    return count;
}

void ScanPipeline::tookSome(std::unique_lock<std::mutex> &guard)
{
    forgetTaken();
    const bool wakeOpener = openerWanted();
    const bool wakeHasher = hasherWanted();
    // The listing waits for half of what it may hand in ahead.
    const bool wakeLister = listerWaiting && published() - nextToTake <= listAhead / 2;
    guard.unlock();
    if (wakeOpener)
        roomToOpen.notify_one();
    if (wakeHasher)
        openedInOrder.notify_one();
    if (wakeLister)
        roomToList.notify_one();
}
