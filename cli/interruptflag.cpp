#include "interruptflag.h"

#include "exitcode.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

#ifdef ORVALEN_POSIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The handler may run on any thread, the engine's hashing threads too, and
// the flag is read by the thread that reports; lock-free atomics are safe
// both in a handler and across threads, where a volatile is neither.
std::atomic<int> signalCount{0};
std::atomic<int> currentPhase{InterruptFlag::Scanning};
std::atomic<int> leftoverFolder{-1};
std::atomic<const char *> leftoverName{nullptr};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "the signal handler needs a lock-free flag");

extern "C" void onInterrupt(int)
{
    // Only async-signal-safe work here: a flag, unlinkat and _Exit.
    const int count = ++signalCount;
    const int phase = currentPhase.load();
    const bool leaveNow = phase == InterruptFlag::Reading
                          || (phase == InterruptFlag::Scanning && count > 1);
    if (!leaveNow)
        return;
#ifdef ORVALEN_POSIX
    if (const char *name = leftoverName.load())
        (void)::unlinkat(leftoverFolder.load(), name, 0);
#endif
    std::_Exit(ExitInterrupted);
}

} // namespace

void InterruptFlag::install()
{
#ifndef ORVALEN_POSIX
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
#else
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Reads interrupted by the signal resume; the scan checks the flag
    // between files and, during a long file, about every 100 ms.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or SSH session: its default would end the process
    // wherever it is, during the write too, leaving the temporary file.
    // Under nohup it stays ignored, as the user asked.
    struct sigaction hangUp = {};
    if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
        sigaction(SIGHUP, &action, nullptr);
#endif
}

void InterruptFlag::setPhase(Phase phase)
{
    currentPhase = phase;
}

void InterruptFlag::setLeftover(int folder, const char *name)
{
    leftoverName = nullptr;
    leftoverFolder = folder;
    leftoverName = name;
}

bool InterruptFlag::raised()
{
    return signalCount.load() != 0;
}
