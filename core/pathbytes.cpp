#include "pathbytes.h"

#include <vector>

std::string PathBytes::clean(const std::string &path)
{
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(begin, end - begin);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(std::move(part));
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        begin = end + 1;
    }
    std::string cleaned = absolute ? "/" : "";
    for (const std::string &part : parts) {
        if (cleaned.size() > 1 || (!absolute && !cleaned.empty()))
            cleaned += '/';
        cleaned += part;
    }
    return cleaned.empty() ? std::string(".") : cleaned;
}
