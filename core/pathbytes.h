#pragma once

#include <string>

// Paths as the bytes the file system takes, handled without decoding them:
// '/', "." and ".." are ASCII, so splitting at '/' finds the same components
// in every encoding.
class PathBytes
{
public:
    // Lexical cleaning, as QDir::cleanPath does it: no empty or "."
    // components, a ".." folded into its parent where there is one (above
    // the root there is none). An empty relative result is ".".
    static std::string clean(const std::string &path);
};
