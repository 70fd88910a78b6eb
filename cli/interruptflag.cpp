#include "interruptflag.h"

#include "exitcode.h"

#include <csignal>
#include <cstdlib>

namespace {

volatile std::sig_atomic_t signalCount = 0;
volatile std::sig_atomic_t currentPhase = InterruptFlag::Scanning;

extern "C" void onInterrupt(int)
{
    // Only async-signal-safe work here: a flag, and _Exit.
    ++signalCount;
    const bool leaveNow = currentPhase == InterruptFlag::Reading
                          || (currentPhase == InterruptFlag::Scanning && signalCount > 1);
    if (leaveNow)
        std::_Exit(ExitInterrupted);
}

} // namespace

void InterruptFlag::install()
{
#ifdef _WIN32
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
#else
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Reads interrupted by the signal resume; the scan checks the flag
    // between files.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

void InterruptFlag::setPhase(Phase phase)
{
    currentPhase = phase;
}

bool InterruptFlag::raised()
{
    return signalCount != 0;
}
