#pragma once

#include "hashwrapper.h"
#include "sha1engine.h"

#include <string>

class sha1wrapper : public hashwrapper
{
public:
    sha1wrapper();
    ~sha1wrapper() override;

    sha1wrapper(const sha1wrapper &) = delete;
    sha1wrapper &operator=(const sha1wrapper &) = delete;

    std::string finishDigest() override;
    std::string digestToText(unsigned char *raw) override;
    void addData(const unsigned char *data, unsigned int length) override;
    void startDigest() override;
    std::string expectedTestDigest() override;

private:
    sha1engine *engine;
    sha1context context;
};
