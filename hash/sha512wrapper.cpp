#include "sha512wrapper.h"

sha512wrapper::sha512wrapper()
    : engine(new sha2engine)
{
}

sha512wrapper::~sha512wrapper()
{
    delete engine;
}

std::string sha512wrapper::finishDigest()
{
    unsigned char text[129];
    engine->sha512Final(&context, reinterpret_cast<char *>(text));
    return digestToText(text);
}

std::string sha512wrapper::digestToText(unsigned char *raw)
{
    return sha2engine::textOf(raw);
}

void sha512wrapper::addData(const unsigned char *data, unsigned int length)
{
    engine->sha512Update(&context, data, length);
}

void sha512wrapper::startDigest()
{
    engine->sha512Init(&context);
}

std::string sha512wrapper::expectedTestDigest()
{
    return "07e547d9586f6a73f73fbac0435ed76951218fb7d0c8d788a309d785436bbb642e93a252a954f23912547d1e8a3b5ed6e1bfd7097821233fa0538f3db854fee6";
}
