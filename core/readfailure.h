#pragma once

#include <string>

// A file or directory of a scan that could not be read, with the system's
// reason. It travels as this value from the call that failed to whoever
// shows it, which alone turns it into words.
struct ReadFailure
{
    enum class Kind { File, Directory };

    Kind kind = Kind::File;
    // The record path of the file, or of the directory without a closing
    // slash: the bytes the directories gave.
    std::string path;
    // The errno of the open, status, read or listing that failed.
    int error = 0;
};
