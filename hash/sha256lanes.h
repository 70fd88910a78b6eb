#pragma once

#include <cstddef>
#include <string>

// The SHA-256 digests of many whole messages at once, as lowercase
// hexadecimal text, through the kernel that compresses 8 messages side by
// side (for CPUs where sha256HasLanes()): a message takes the next free lane
// as another one ends, and the last few go through the one-message kernel.
void sha256Lanes(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                 std::string *const *digests);
