#include "sha384wrapper.h"

sha384wrapper::sha384wrapper()
    : engine(new sha2engine)
{
}

sha384wrapper::~sha384wrapper()
{
    delete engine;
}

std::string sha384wrapper::finishDigest()
{
    unsigned char text[97];
    engine->sha384Final(&context, reinterpret_cast<char *>(text));
    return digestToText(text);
}

std::string sha384wrapper::digestToText(unsigned char *raw)
{
    return sha2engine::textOf(raw);
}

void sha384wrapper::addData(const unsigned char *data, unsigned int length)
{
    engine->sha384Update(&context, data, length);
}

void sha384wrapper::startDigest()
{
    engine->sha384Init(&context);
}

std::string sha384wrapper::expectedTestDigest()
{
    return "ca737f1014a48f4c0b6dd43cb177b0afd9e5169367544c494011e3317dbf9a509cb1e5dc1e85a941bbee3d7f2afbc9b1";
}
