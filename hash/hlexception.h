#pragma once

#include <string>

// The one exception type of the hashing code. Copyable, no base class:
// callers catch it by reference and show messageText() to the user.
class hlException
{
public:
    hlException(int code, const std::string &message, int errorNumber = 0);

    int code;
    std::string message;
    // For code 1: the errno of the open, status or read that failed, so
    // that a caller can say why without reading the message; 0 unknown.
    int errorNumber;

    std::string messageText() const;
};
