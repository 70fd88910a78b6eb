#pragma once

#include <string>

// Common face of the five digest algorithms. A concrete wrapper supplies the
// first five operations; the file, string and self-test operations are built
// once on top of them here. The order of the virtual operations is part of
// the interface and must not change.
class hashwrapper
{
protected:
    std::string testText;

public:
    hashwrapper();

    virtual std::string finishDigest() = 0;
    virtual std::string digestToText(unsigned char *raw) = 0;
    virtual void addData(const unsigned char *data, unsigned int length) = 0;
    virtual void startDigest() = 0;
    virtual std::string expectedTestDigest() = 0;

    virtual ~hashwrapper();

    // Throws hlException code 2 when the digest of testText is not the
    // expected one.
    virtual void selfTest();
    virtual std::string digestOfString(std::string text);
    // Throws hlException code 1 when the file cannot be opened or read, or
    // is not a regular file.
    virtual std::string digestOfFile(std::string path);
};
