#include "sha256lanes.h"

#include "hashbytes.h"
#include "hashcpu.h"
#include "hexbytes.h"
#include "sha256constants.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr int laneCount = 8;

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

struct Lane
{
    std::string *digest = nullptr;
    const unsigned char *next = nullptr;
    std::size_t wholeLeft = 0;
    std::size_t tailDone = 0;
    Tail tail;

    bool busy() const { return digest != nullptr; }
    const unsigned char *block() const { return wholeLeft > 0 ? next : tail.bytes + 64 * tailDone; }
};

// Lane l's state as the digest's text.
void writeDigest(const std::uint32_t state[8][laneCount], int l, std::string &digest)
{
    unsigned char raw[32];
    for (int w = 0; w < 8; ++w)
        storeBe32(raw + 4 * w, state[w][l]);
    char text[64];
    hexInto(raw, sizeof raw, text);
    digest.assign(text, sizeof text);
}

} // namespace

void sha256Lanes(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                 std::string *const *digests)
{
    Lane lanes[laneCount];
    std::uint32_t state[8][laneCount];
    static const unsigned char idle[64] = {};
    std::size_t nextMessage = 0;
    int busy = 0;
    const auto start = [&](int l) {
        Lane &lane = lanes[l];
        const std::size_t m = nextMessage++;
        lane.digest = digests[m];
        lane.next = data[m];
        lane.wholeLeft = lengths[m] / 64;
        lane.tailDone = 0;
        lane.tail.set(data[m], lengths[m]);
        for (int w = 0; w < 8; ++w)
            state[w][l] = sha256InitialState[w];
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
            for (int l = 0; l < laneCount; ++l) {
                Lane &lane = lanes[l];
                if (!lane.busy())
                    continue;
                std::uint32_t one[8];
                for (int w = 0; w < 8; ++w)
                    one[w] = state[w][l];
                sha256Blocks(one, lane.next, lane.wholeLeft);
                sha256Blocks(one, lane.tail.bytes + 64 * lane.tailDone, lane.tail.blocks - lane.tailDone);
                for (int w = 0; w < 8; ++w)
                    state[w][l] = one[w];
                writeDigest(state, l, *lane.digest);
            }
            return;
        }
        const unsigned char *blocks[laneCount];
        for (int l = 0; l < laneCount; ++l)
            blocks[l] = lanes[l].busy() ? lanes[l].block() : idle;
        sha256Blocks8(state, blocks);
        for (int l = 0; l < laneCount; ++l) {
            Lane &lane = lanes[l];
            if (!lane.busy())
                continue;
            if (lane.wholeLeft > 0) {
                --lane.wholeLeft;
                lane.next += 64;
                continue;
            }
            if (++lane.tailDone < lane.tail.blocks)
                continue;
            writeDigest(state, l, *lane.digest);
            lane.digest = nullptr;
            --busy;
            if (nextMessage < count)
                start(l);
        }
    }
}
