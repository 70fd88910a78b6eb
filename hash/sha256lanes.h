#pragma once

#include <cstddef>
#include <string>

// The SHA-256 digests of many whole messages at once, as lowercase
// hexadecimal text: where the CPU has a kernel that compresses several
// messages side by side, they go through it, a message taking the next free
// lane as another one ends; the last few, and every message on other CPUs,
// go one at a time through the one-message kernel.
void sha256Lanes(const unsigned char *const *data, const std::size_t *lengths, std::size_t count,
                 std::string *digests);

// Whether sha256Lanes has a kernel for several messages on this CPU now.
bool sha256HasLanes();
