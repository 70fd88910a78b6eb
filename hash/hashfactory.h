#pragma once

#include <string>

class hashwrapper;

class hashfactory
{
public:
    // "md5", "sha1", "sha256", "sha384" or "sha512" in any letter case; any
    // other name gives nullptr. The caller owns the result.
    hashwrapper *makeWrapper(std::string name);
};
