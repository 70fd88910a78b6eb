#include "sha2engine.h"

#include "hashbytes.h"
#include "hashcpu.h"
#include "hexbytes.h"
#include "sha256constants.h"

#include <cstring>

namespace {

void toHex(const unsigned char *digest, std::size_t bytes, char *text)
{
    hexInto(digest, bytes, text);
    text[2 * bytes] = '\0';
}

} // namespace

void sha2engine::sha256Init(sha256context *context)
{
    std::memcpy(context->state, sha256InitialState, sizeof(sha256InitialState));
    context->bitCount = 0;
}

void sha2engine::sha256Update(sha256context *context, const unsigned char *data, std::size_t length)
{
    if (length == 0)
        return;
    std::size_t index = static_cast<std::size_t>(context->bitCount >> 3) & 63;
    context->bitCount += std::uint64_t(length) << 3;

    if (index != 0) {
        const std::size_t fill = 64 - index;
        if (length < fill) {
            std::memcpy(context->buffer + index, data, length);
            return;
        }
        std::memcpy(context->buffer + index, data, fill);
        sha256Blocks(context->state, context->buffer, 1);
        data += fill;
        length -= fill;
    }
    const std::size_t blocks = length / 64;
    if (blocks > 0) {
        sha256Blocks(context->state, data, blocks);
        data += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0)
        std::memcpy(context->buffer, data, length);
}

void sha2engine::sha256Final(sha256context *context, char text[65])
{
    std::size_t index = static_cast<std::size_t>(context->bitCount >> 3) & 63;
    context->buffer[index++] = 0x80;
    if (index > 56) {
        std::memset(context->buffer + index, 0, 64 - index);
        sha256Blocks(context->state, context->buffer, 1);
        index = 0;
    }
    std::memset(context->buffer + index, 0, 56 - index);
    storeBe64(context->buffer + 56, context->bitCount);
    sha256Blocks(context->state, context->buffer, 1);

    unsigned char digest[32];
    for (int i = 0; i < 8; ++i)
        storeBe32(digest + 4 * i, context->state[i]);
    toHex(digest, sizeof(digest), text);
}

void sha2engine::sha384Init(sha512context *context)
{
    static const std::uint64_t initial[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                             0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                             0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    std::memcpy(context->state, initial, sizeof(initial));
    context->bitCount[0] = 0;
    context->bitCount[1] = 0;
}

void sha2engine::sha384Update(sha512context *context, const unsigned char *data, std::size_t length)
{
    sha512Update(context, data, length);
}

void sha2engine::sha384Final(sha512context *context, char text[97])
{
    char full[129];
    sha512Final(context, full);
    std::memcpy(text, full, 96);
    text[96] = '\0';
}

void sha2engine::sha512Init(sha512context *context)
{
    static const std::uint64_t initial[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                             0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                             0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    std::memcpy(context->state, initial, sizeof(initial));
    context->bitCount[0] = 0;
    context->bitCount[1] = 0;
}

void sha2engine::sha512Update(sha512context *context, const unsigned char *data, std::size_t length)
{
    if (length == 0)
        return;
    std::size_t index = static_cast<std::size_t>(context->bitCount[0] >> 3) & 127;
    // The bit count is 128 bits wide: carry into the high word. A size_t
    // shifted by three can lose its top bits, which go to the high word too.
    const std::uint64_t low = std::uint64_t(length) << 3;
    const std::uint64_t high = std::uint64_t(length) >> 61;
    context->bitCount[0] += low;
    context->bitCount[1] += high + (context->bitCount[0] < low ? 1 : 0);

    if (index != 0) {
        const std::size_t fill = 128 - index;
        if (length < fill) {
            std::memcpy(context->buffer + index, data, length);
            return;
        }
        std::memcpy(context->buffer + index, data, fill);
        sha512Blocks(context->state, context->buffer, 1);
        data += fill;
        length -= fill;
    }
    const std::size_t blocks = length / 128;
    if (blocks > 0) {
        sha512Blocks(context->state, data, blocks);
        data += blocks * 128;
        length -= blocks * 128;
    }
    if (length > 0)
        std::memcpy(context->buffer, data, length);
}

void sha2engine::sha512Final(sha512context *context, char text[129])
{
    std::size_t index = static_cast<std::size_t>(context->bitCount[0] >> 3) & 127;
    context->buffer[index++] = 0x80;
    if (index > 112) {
        std::memset(context->buffer + index, 0, 128 - index);
        sha512Blocks(context->state, context->buffer, 1);
        index = 0;
    }
    std::memset(context->buffer + index, 0, 112 - index);
    storeBe64(context->buffer + 112, context->bitCount[1]);
    storeBe64(context->buffer + 120, context->bitCount[0]);
    sha512Blocks(context->state, context->buffer, 1);

    unsigned char digest[64];
    for (int i = 0; i < 8; ++i)
        storeBe64(digest + 8 * i, context->state[i]);
    toHex(digest, sizeof(digest), text);
}

std::string sha2engine::textOf(const unsigned char *text)
{
    return std::string(reinterpret_cast<const char *>(text));
}
