#pragma once

#include <string>

// One file of a tree: its path relative to the source directory (forward
// slashes, UTF-8) and its digest as lowercase hexadecimal text.
struct HashRecord
{
    std::string path;
    std::string hash;
};
