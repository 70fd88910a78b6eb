#include "sha256wrapper.h"

#include "hashcpu.h"
#include "sha256lanes.h"

sha256wrapper::sha256wrapper()
    : engine(new sha2engine)
{
}

sha256wrapper::~sha256wrapper()
{
    delete engine;
}

std::string sha256wrapper::finishDigest()
{
    unsigned char text[65];
    engine->sha256Final(&context, reinterpret_cast<char *>(text));
    return digestToText(text);
}

void sha256wrapper::finishDigestInto(std::string &text)
{
    char hex[65];
    engine->sha256Final(&context, hex);
    text.assign(hex, 64);
}

void sha256wrapper::digestsInto(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                                std::string *const *digests)
{
    // One message alone gains nothing from the lanes.
    if (count > 1 && sha256HasLanes())
        sha256Lanes(data, lengths, count, digests);
    else
        hashwrapper::digestsInto(data, lengths, count, digests);
}

std::string sha256wrapper::digestToText(unsigned char *raw)
{
    return sha2engine::textOf(raw);
}

void sha256wrapper::addData(const unsigned char *data, unsigned int length)
{
    engine->sha256Update(&context, data, length);
}

void sha256wrapper::startDigest()
{
    engine->sha256Init(&context);
}

std::string sha256wrapper::expectedTestDigest()
{
    return "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592";
}
