#pragma once

#include "hashwrapper.h"
#include "sha2engine.h"

#include <string>

class sha384wrapper : public hashwrapper
{
public:
    sha384wrapper();
    ~sha384wrapper() override;

    sha384wrapper(const sha384wrapper &) = delete;
    sha384wrapper &operator=(const sha384wrapper &) = delete;

    std::string finishDigest() override;
    std::string digestToText(unsigned char *raw) override;
    void addData(const unsigned char *data, unsigned int length) override;
    void startDigest() override;
    std::string expectedTestDigest() override;

private:
    sha2engine *engine;
    sha512context context;
};
