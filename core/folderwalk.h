#pragma once

#include "descriptor.h"

#include <string>

#include <sys/stat.h>

// The way to where a file is to be written, walked one name at a time with
// the kernel's rules for links, and the rule on links and files that
// another user put in a shared folder.
class FolderWalk
{
public:
    // The kernel's protected-symlinks and protected-regular rules, whatever they
    // are set to on this machine: in a shared folder, an entry that belongs to
    // neither the caller nor the folder's owner was put there by another user.
    // A link of theirs may lead to any file, and a file of theirs stays theirs
    // to read and rewrite.
    static bool plantedByOther(const struct stat &folder, const struct stat &entry);

    // Walks path one name at a time, as the kernel would, following the links
    // in it and at its end, except those plantedByOther: the caller's rights
    // must not carry another user's link anywhere, whether it names the file
    // or a folder on the way. On success folder is the folder the file goes
    // in, open for reading, name its name there and, where an entry stands at
    // that name, entry its status. Returns 0 or an errno value.
    static int walk(const std::string &path, Descriptor &folder, std::string &name, struct stat &entry, bool &exists);
};
