#include "hlexception.h"

hlException::hlException(int code, const std::string &message, int errorNumber)
    : code(code), message(message), errorNumber(errorNumber)
{
}

std::string hlException::messageText() const
{
    return message;
}
