#pragma once

#include "hashwrapper.h"
#include "md5engine.h"

#include <string>

class md5wrapper : public hashwrapper
{
public:
    md5wrapper();
    ~md5wrapper() override;

    md5wrapper(const md5wrapper &) = delete;
    md5wrapper &operator=(const md5wrapper &) = delete;

    std::string finishDigest() override;
    std::string digestToText(unsigned char *raw) override;
    void addData(const unsigned char *data, unsigned int length) override;
    void startDigest() override;
    std::string expectedTestDigest() override;

private:
    md5engine *engine;
    md5context context;
};
