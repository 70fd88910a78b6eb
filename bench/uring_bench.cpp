// The files of a list hashed with SHA-256 by UringReader on a few threads,
// through io_uring or, with "plain", the way the scan reads each file today
// (open, status, read, status, close); the same driver for both, so that the
// difference is the reader's. Timed from outside, beside bench/floor.c and
// bench/uring_floor.c on the same list (see million_bench.sh).
//
//   uring_bench ROOT LISTFILE [THREADS] [ring|plain] [OUT]
//
// OUT, when given, receives "digest  path" for every file in list order,
// to be compared with sha256sum's. Exit status 1 when any file could not
// be read.

#include "hashfactory.h"
#include "hashwrapper.h"
#include "uringreader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Files a thread claims at once: a few batches, so that a thread that meets
// a slow file does not leave the other idle at the end.
constexpr std::size_t claim = 4 * UringReader::batchFiles;

struct Shared
{
    int rootFd = -1;
    std::vector<const char *> paths;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> failures{0};
    std::atomic<std::size_t> changing{0};
    std::atomic<int> refusal{0};
    std::atomic<bool> batched{false};
    // Kept only with OUT.
    std::vector<std::string> digests;
};

void work(Shared &shared)
{
    UringReader reader(shared.rootFd);
    if (reader.batched())
        shared.batched = true;
    else
        shared.refusal = reader.refusal();
    std::unique_ptr<hashwrapper> hasher(hashfactory().makeWrapper("sha256"));
    std::vector<std::string> paths(claim);
    std::vector<UringReader::File> files(claim);
    const std::size_t count = shared.paths.size();
    for (std::size_t start; (start = shared.next.fetch_add(claim)) < count;) {
        const std::size_t n = std::min(claim, count - start);
        for (std::size_t i = 0; i < n; ++i)
            paths[i].assign(shared.paths[start + i]);
        reader.hash(paths.data(), n, *hasher, files.data());
        for (std::size_t i = 0; i < n; ++i) {
            if (files[i].error != 0)
                ++shared.failures;
            if (files[i].changing)
                ++shared.changing;
            if (!shared.digests.empty())
                shared.digests[start + i] = files[i].digest;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 6) {
        std::fprintf(stderr, "usage: %s ROOT LISTFILE [THREADS] [ring|plain] [OUT]\n", argv[0]);
        return 2;
    }
    const int threads = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 2;
    const std::string mode = argc >= 5 ? argv[4] : "ring";
    if (mode != "ring" && mode != "plain") {
        std::fprintf(stderr, "uring_bench: no mode %s\n", mode.c_str());
        return 2;
    }
    if (mode == "plain")
        UringReader::refuseSetupForTesting(EPERM);

    Shared shared;
    shared.rootFd = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::ifstream list(argv[2], std::ios::binary);
    if (shared.rootFd < 0 || !list) {
        std::perror(shared.rootFd < 0 ? argv[1] : argv[2]);
        return 2;
    }
    // One read of the whole list, split in place, as the floors do.
    std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    text.push_back('\n');
    for (std::size_t at = 0, nl; at < text.size(); at = nl + 1) {
        nl = text.find('\n', at);
        text[nl] = '\0';
        if (nl > at)
            shared.paths.push_back(text.data() + at);
    }
    if (argc == 6)
        shared.digests.resize(shared.paths.size());

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work, std::ref(shared));
    for (std::thread &worker : workers)
        worker.join();
    ::close(shared.rootFd);

    if (argc == 6) {
        std::ofstream out(argv[5], std::ios::binary);
        for (std::size_t i = 0; i < shared.paths.size(); ++i)
            out << shared.digests[i] << "  " << shared.paths[i] << '\n';
    }
    if (mode == "ring" && !shared.batched)
        std::fprintf(stderr, "uring_bench: io_uring refused (%s), every file read the plain way\n",
                     std::strerror(shared.refusal));
    if (shared.failures != 0)
        std::fprintf(stderr, "uring_bench: %zu files could not be read\n", shared.failures.load());
    if (shared.changing != 0)
        std::fprintf(stderr, "uring_bench: %zu files changed while read\n", shared.changing.load());
    return shared.failures != 0 ? 1 : 0;
}
