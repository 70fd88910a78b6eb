#pragma once

#include "hashwrapper.h"
#include "sha2engine.h"

#include <string>

class sha256wrapper : public hashwrapper
{
public:
    sha256wrapper();
    ~sha256wrapper() override;

    sha256wrapper(const sha256wrapper &) = delete;
    sha256wrapper &operator=(const sha256wrapper &) = delete;

    std::string finishDigest() override;
    std::string digestToText(unsigned char *raw) override;
    void addData(const unsigned char *data, unsigned int length) override;
    void startDigest() override;
    std::string expectedTestDigest() override;
    void finishDigestInto(std::string &text) override;
    void digestsInto(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                     std::string *const *digests) override;

private:
    sha2engine *engine;
    sha256context context;
};
