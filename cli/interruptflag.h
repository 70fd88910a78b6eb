#pragma once

// SIGINT, SIGTERM and SIGHUP handling. A scan notices the first signal at
// its next file, or while a long file is hashed at the engine's next
// question (about every 100 ms), and stops cleanly; a second signal during a
// scan, or any signal while the job only reads, ends the process at once,
// since nothing is being written then. Signals during the final write are
// noted and do not cut it short: the job completes as if none had come.
class InterruptFlag
{
public:
    enum Phase {
        Scanning,  // stop at the next check; a second signal exits at once
        Writing,   // remember the signal, never leave a half-written file
        Reading    // nothing to protect: exit at once
    };

    static void install();
    static void setPhase(Phase phase);
    static bool raised();
    // A file to remove when a signal ends the process at once: the
    // temporary checksums file of a scan. Cleared with (-1, nullptr); name
    // must stay valid until then.
    static void setLeftover(int folder, const char *name);
};
