#include "md5engine.h"

#include "hashbytes.h"
#include "hashcpu.h"

#include <cstring>

void md5engine::init(md5context *context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->count[0] = 0;
    context->count[1] = 0;
}

void md5engine::update(md5context *context, const unsigned char *input, std::size_t length)
{
    if (length == 0)
        return;
    std::size_t index = (context->count[0] >> 3) & 63;
    const std::uint64_t bits = (std::uint64_t(context->count[1]) << 32 | context->count[0])
                               + (std::uint64_t(length) << 3);
    context->count[0] = static_cast<std::uint32_t>(bits);
    context->count[1] = static_cast<std::uint32_t>(bits >> 32);

    if (index != 0) {
        const std::size_t fill = 64 - index;
        if (length < fill) {
            std::memcpy(context->buffer + index, input, length);
            return;
        }
        std::memcpy(context->buffer + index, input, fill);
        md5Blocks(context->state, context->buffer, 1);
        input += fill;
        length -= fill;
    }
    const std::size_t blocks = length / 64;
    if (blocks > 0) {
        md5Blocks(context->state, input, blocks);
        input += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0)
        std::memcpy(context->buffer, input, length);
}

void md5engine::finish(unsigned char digest[16], md5context *context)
{
    const std::uint32_t low = context->count[0];
    const std::uint32_t high = context->count[1];
    std::size_t index = (low >> 3) & 63;

    context->buffer[index++] = 0x80;
    if (index > 56) {
        std::memset(context->buffer + index, 0, 64 - index);
        md5Blocks(context->state, context->buffer, 1);
        index = 0;
    }
    std::memset(context->buffer + index, 0, 56 - index);
    storeLe32(context->buffer + 56, low);
    storeLe32(context->buffer + 60, high);
    md5Blocks(context->state, context->buffer, 1);

    for (int i = 0; i < 4; ++i)
        storeLe32(digest + 4 * i, context->state[i]);
    std::memset(context, 0, sizeof(*context));
}
