#include "md5wrapper.h"

#include "hexbytes.h"

md5wrapper::md5wrapper()
    : engine(new md5engine)
{
}

md5wrapper::~md5wrapper()
{
    delete engine;
}

std::string md5wrapper::finishDigest()
{
    unsigned char raw[16] = {};
    engine->finish(raw, &context);
    return digestToText(raw);
}

std::string md5wrapper::digestToText(unsigned char *raw)
{
    return hexOfBytes(raw, 16);
}

void md5wrapper::addData(const unsigned char *data, unsigned int length)
{
    engine->update(&context, data, length);
}

void md5wrapper::startDigest()
{
    engine->init(&context);
}

std::string md5wrapper::expectedTestDigest()
{
    return "9e107d9d372bb6826bd81d3542a419d6";
}
