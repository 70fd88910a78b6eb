#include "sha1wrapper.h"

#include "hexbytes.h"

sha1wrapper::sha1wrapper()
    : engine(new sha1engine)
{
}

sha1wrapper::~sha1wrapper()
{
    delete engine;
}

std::string sha1wrapper::finishDigest()
{
    unsigned char raw[20] = {};
    engine->result(&context, raw);
    return digestToText(raw);
}

std::string sha1wrapper::digestToText(unsigned char *raw)
{
    return hexOfBytes(raw, 20);
}

void sha1wrapper::addData(const unsigned char *data, unsigned int length)
{
    engine->input(&context, data, length);
}

void sha1wrapper::startDigest()
{
    engine->reset(&context);
}

std::string sha1wrapper::expectedTestDigest()
{
    return "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12";
}
