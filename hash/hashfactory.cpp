#include "hashfactory.h"

#include "md5wrapper.h"
#include "sha1wrapper.h"
#include "sha256wrapper.h"
#include "sha384wrapper.h"
#include "sha512wrapper.h"

#include <cctype>

hashwrapper *hashfactory::makeWrapper(std::string name)
{
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    if (name == "MD5")
        return new md5wrapper();
    if (name == "SHA1")
        return new sha1wrapper();
    if (name == "SHA256")
        return new sha256wrapper();
    if (name == "SHA384")
        return new sha384wrapper();
    if (name == "SHA512")
        return new sha512wrapper();
    return nullptr;
}
