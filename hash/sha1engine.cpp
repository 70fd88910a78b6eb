#include "sha1engine.h"

#include "hashbytes.h"
#include "hashcpu.h"

#include <cstring>

int sha1engine::reset(sha1context *context)
{
    if (!context)
        return sha1Null;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->state[4] = 0xc3d2e1f0;
    context->lengthLow = 0;
    context->lengthHigh = 0;
    context->index = 0;
    context->computed = 0;
    context->corrupted = sha1Success;
    return sha1Success;
}

int sha1engine::input(sha1context *context, const unsigned char *data, std::size_t length)
{
    if (length == 0)
        return sha1Success;
    if (!context || !data)
        return sha1Null;
    if (context->computed) {
        context->corrupted = sha1StateError;
        return sha1StateError;
    }
    if (context->corrupted)
        return context->corrupted;

    const std::uint64_t before = std::uint64_t(context->lengthHigh) << 32 | context->lengthLow;
    const std::uint64_t added = std::uint64_t(length) << 3;
    if ((std::uint64_t(length) >> 61) != 0 || before + added < before) {
        context->corrupted = sha1InputTooLong;
        return sha1InputTooLong;
    }
    const std::uint64_t after = before + added;
    context->lengthLow = static_cast<std::uint32_t>(after);
    context->lengthHigh = static_cast<std::uint32_t>(after >> 32);

    std::size_t index = context->index;
    if (index != 0) {
        const std::size_t fill = 64 - index;
        if (length < fill) {
            std::memcpy(context->block + index, data, length);
            context->index = static_cast<std::uint16_t>(index + length);
            return sha1Success;
        }
        std::memcpy(context->block + index, data, fill);
        sha1Blocks(context->state, context->block, 1);
        data += fill;
        length -= fill;
    }
    const std::size_t blocks = length / 64;
    if (blocks > 0) {
        sha1Blocks(context->state, data, blocks);
        data += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0)
        std::memcpy(context->block, data, length);
    context->index = static_cast<std::uint16_t>(length);
    return sha1Success;
}

int sha1engine::result(sha1context *context, unsigned char digest[20])
{
    if (!context || !digest)
        return sha1Null;
    if (context->corrupted)
        return context->corrupted;

    if (!context->computed) {
        std::size_t index = context->index;
        context->block[index++] = 0x80;
        if (index > 56) {
            std::memset(context->block + index, 0, 64 - index);
            sha1Blocks(context->state, context->block, 1);
            index = 0;
        }
        std::memset(context->block + index, 0, 56 - index);
        storeBe32(context->block + 56, context->lengthHigh);
        storeBe32(context->block + 60, context->lengthLow);
        sha1Blocks(context->state, context->block, 1);

        // The message is no longer needed; do not leave it behind.
        std::memset(context->block, 0, sizeof(context->block));
        context->lengthLow = 0;
        context->lengthHigh = 0;
        context->index = 0;
        context->computed = 1;
    }
    for (int i = 0; i < 5; ++i)
        storeBe32(digest + 4 * i, context->state[i]);
    return sha1Success;
}
