#pragma once

#include <string>

// The one exception type of the hashing code. Copyable, no base class:
// callers catch it by reference and show messageText() to the user.
class hlException
{
public:
    hlException(int code, const std::string &message);

    int code;
    std::string message;

    std::string messageText() const;
};
