#pragma once

#include "hashwrapper.h"
#include "sha2engine.h"

#include <string>

class sha512wrapper : public hashwrapper
{
public:
    sha512wrapper();
    ~sha512wrapper() override;

    sha512wrapper(const sha512wrapper &) = delete;
    sha512wrapper &operator=(const sha512wrapper &) = delete;

    std::string finishDigest() override;
    std::string digestToText(unsigned char *raw) override;
    void addData(const unsigned char *data, unsigned int length) override;
    void startDigest() override;
    std::string expectedTestDigest() override;

private:
    sha2engine *engine;
    sha512context context;
};
