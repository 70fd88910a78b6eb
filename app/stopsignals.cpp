#include "stopsignals.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

const std::array<int, 3> stopSignals = {SIGINT, SIGTERM, SIGHUP};

// Shared with the handler, which may run on any thread: lock-free atomics
// only.
std::atomic<int> pipeRead{-1};
std::atomic<int> pipeWrite{-1};
std::atomic<int> signalCount{0};
std::atomic<int> leftoverFolder{-1};
std::atomic<const char *> leftoverName{nullptr};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "the signal handler needs lock-free atomics");

struct sigaction earlier[3];
bool installed[3] = {};

void removeLeftover()
{
    if (const char *name = leftoverName.load())
        (void)::unlinkat(leftoverFolder.load(), name, 0);
}

extern "C" void onStopSignal(int number)
{
    // Async-signal-safe calls only: write, unlinkat, _Exit.
    const int savedErrno = errno;
    if (++signalCount > 1) {
        removeLeftover();
        std::_Exit(128 + number);
    }
    const unsigned char byte = static_cast<unsigned char>(number);
    (void)!::write(pipeWrite.load(), &byte, 1);
    errno = savedErrno;
}

extern "C" void removeLeftoverAtExit()
{
    removeLeftover();
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onStop, QObject *parent)
    : QObject(parent)
    , onStop(std::move(onStop))
{
    static const bool atExitRegistered = std::atexit(removeLeftoverAtExit) == 0;
    (void)atExitRegistered;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    pipeRead = ends[0];
    pipeWrite = ends[1];
    signalCount = 0;
    notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::takeSignal);

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < stopSignals.size(); ++i) {
        if (sigaction(stopSignals[i], nullptr, &earlier[i]) != 0)
            continue;
        // Under nohup a closed terminal is to be ignored, as the user asked.
        if (stopSignals[i] == SIGHUP && earlier[i].sa_handler == SIG_IGN)
            continue;
        installed[i] = sigaction(stopSignals[i], &action, nullptr) == 0;
    }
}

StopSignals::~StopSignals()
{
    for (size_t i = 0; i < stopSignals.size(); ++i) {
        if (installed[i])
            sigaction(stopSignals[i], &earlier[i], nullptr);
        installed[i] = false;
    }
    if (pipeRead.load() < 0)
        return;
    delete notifier;
    ::close(pipeRead.exchange(-1));
    ::close(pipeWrite.exchange(-1));
}

void StopSignals::setLeftover(int folder, const char *name)
{
    leftoverName = nullptr;
    leftoverFolder = folder;
    leftoverName = name;
}

bool StopSignals::raised()
{
    return signalCount.load() > 0;
}

void StopSignals::takeSignal()
{
    unsigned char byte = 0;
    int number = 0;
    while (::read(pipeRead.load(), &byte, 1) == 1)
        number = number ? number : byte;
    if (number == 0 || stopping)
        return;
    stopping = true;
    onStop(number);
}
