#include "hlexception.h"

hlException::hlException(int code, const std::string &message)
    : code(code), message(message)
{
}

std::string hlException::messageText() const
{
    return message;
}
