#pragma once

#include <cstddef>

// Asks the system to back a large block with large pages. Filling a block of
// tens of megabytes page by page costs one fault per 4 KiB, which on some
// virtual machines takes longer than all the work done on the data; with
// 2 MiB pages the faults are 512 times fewer. Only advice: it may be ignored,
// and small blocks are left alone.
void adviseLargePages(const void *data, std::size_t bytes);
