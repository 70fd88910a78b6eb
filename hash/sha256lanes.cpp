#include "sha256lanes.h"

#include "hashbytes.h"
#include "hashcpu.h"
#include "hexbytes.h"

#include <cstdint>
#include <cstring>

namespace {

const std::uint32_t initialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// A message's end: the bytes after its last whole block, the 0x80 byte, the
// zeros and the length in bits, one block or two.
struct Tail
{
    unsigned char bytes[128];
    std::size_t blocks = 0;

    void set(const unsigned char *data, std::size_t length)
    {
        const std::size_t rest = length % 64;
        blocks = rest + 9 > 64 ? 2 : 1;
        std::memcpy(bytes, data + (length - rest), rest);
        bytes[rest] = 0x80;
        std::memset(bytes + rest + 1, 0, 64 * blocks - rest - 9);
        storeBe64(bytes + 64 * blocks - 8, static_cast<std::uint64_t>(length) * 8);
    }
};

void writeDigest(const std::uint32_t state[8], std::string &digest)
{
    unsigned char raw[32];
    for (int i = 0; i < 8; ++i)
        storeBe32(raw + 4 * i, state[i]);
    char text[64];
    hexInto(raw, sizeof raw, text);
    digest.assign(text, sizeof text);
}

void oneAtATime(const unsigned char *data, std::size_t length, std::string &digest)
{
    std::uint32_t state[8];
    std::memcpy(state, initialState, sizeof state);
    sha256Blocks(state, data, length / 64);
    Tail tail;
    tail.set(data, length);
    sha256Blocks(state, tail.bytes, tail.blocks);
    writeDigest(state, digest);
}

} // namespace

bool sha256HasLanes()
{
    return sha256LaneCount() > 1;
}

void sha256Lanes(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                 std::string *digests)
{
    constexpr int laneCount = 8;
    if (count < 2 || sha256LaneCount() != laneCount) {
        for (std::size_t i = 0; i < count; ++i)
            oneAtATime(data[i], lengths[i], digests[i]);
        return;
    }

    struct Lane
    {
        std::size_t message = 0;
        const unsigned char *next = nullptr;
        std::size_t wholeLeft = 0;
        std::size_t tailDone = 0;
        bool busy = false;
        Tail tail;
    };
    Lane lanes[laneCount];
    std::uint32_t state[8][laneCount];
    static const unsigned char idle[64] = {};
    std::size_t nextMessage = 0;
    int busy = 0;
    const auto start = [&](int l) {
        Lane &lane = lanes[l];
        lane.message = nextMessage++;
        lane.next = data[lane.message];
        lane.wholeLeft = lengths[lane.message] / 64;
        lane.tailDone = 0;
        lane.tail.set(data[lane.message], lengths[lane.message]);
        lane.busy = true;
        for (int w = 0; w < 8; ++w)
            state[w][l] = initialState[w];
        ++busy;
    };
    for (int l = 0; l < laneCount && nextMessage < count; ++l)
        start(l);

    // A step costs about what the one-message kernel takes for a few
    // blocks: with only that many lanes busy and none to fill, the rest go
    // one at a time.
    const int fewest = sha256LaneFewest();
    while (busy > 0) {
        if (nextMessage == count && busy <= fewest) {
            for (Lane &lane : lanes) {
                if (!lane.busy)
                    continue;
                const int l = static_cast<int>(&lane - lanes);
                std::uint32_t one[8];
                for (int w = 0; w < 8; ++w)
                    one[w] = state[w][l];
                sha256Blocks(one, lane.next, lane.wholeLeft);
                sha256Blocks(one, lane.tail.bytes + 64 * lane.tailDone, lane.tail.blocks - lane.tailDone);
                writeDigest(one, digests[lane.message]);
            }
            return;
        }
        const unsigned char *blocks[laneCount];
        for (int l = 0; l < laneCount; ++l) {
            const Lane &lane = lanes[l];
            blocks[l] = !lane.busy ? idle : lane.wholeLeft > 0 ? lane.next : lane.tail.bytes + 64 * lane.tailDone;
        }
        sha256Blocks8(state, blocks);
        for (int l = 0; l < laneCount; ++l) {
            Lane &lane = lanes[l];
            if (!lane.busy)
                continue;
            if (lane.wholeLeft > 0) {
                --lane.wholeLeft;
                lane.next += 64;
                continue;
            }
            if (++lane.tailDone < lane.tail.blocks)
                continue;
            std::uint32_t one[8];
            for (int w = 0; w < 8; ++w)
                one[w] = state[w][l];
            writeDigest(one, digests[lane.message]);
            lane.busy = false;
            --busy;
            if (nextMessage < count)
                start(l);
        }
    }
}
