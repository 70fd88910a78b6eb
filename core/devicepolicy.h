#pragma once

#include <cstddef>
#include <string>

// How many threads a scan runs and how much it holds at once, for the
// device its tree lies on and the room the process has left: a disk with
// moving heads or not, the jobs asked for, the descriptors the process may
// still open and the address space it may still map.
class DevicePolicy
{
public:
    // More hashers than this only cost memory and threads.
    static constexpr int maxHashers = 256;

    struct Settings
    {
        int hashers = 2;
        // Of the hashers, those that join only a scan of at least lateAfter
        // files: a long scan of a tree that is mostly in memory still waits
        // now and then for a page the system let go of, and a hasher more
        // than the cores keeps them busy meanwhile; a short one has nothing
        // to gain from it.
        int lateHashers = 0;
        std::size_t lateAfter = 20000;
        int openers = 16;
        std::size_t window = 8192;
        std::size_t openAhead = 256;
        // Never read two large files at once (a disk with moving heads).
        bool oneLargeFileAtATime = false;
        // Whether hashers open the files themselves while they are found in
        // memory; without it the openers open every file.
        bool hashersOpenFromMemory = true;
    };

    // How the pipeline is set up for a tree on the device of sourcePath:
    // jobs hashers (0: one per core, and one more for a long scan; at most
    // maxHashers), fewer where the descriptors the process may still open,
    // or the address space it may still map, would not serve them; no
    // hasher at all where not even one fits in that address space.
    static Settings settingsFor(const std::string &sourcePath, int jobs);

    // Whether the tree lies on a disk that the system calls rotational; for a
    // partition the flag is its disk's. Unknown devices (network and union
    // file systems, device mapper without the flag) count as not rotational.
    static bool isRotational(const std::string &path);
};
