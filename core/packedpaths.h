#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Paths back to back in one block, with where each ends: millions of paths
// cost their bytes and one offset each, not a string apiece. Paths are
// numbered in the order they were appended, from 0; a leading part can be
// forgotten, and the paths after it keep their numbers.
class PackedPaths
{
public:
    // Paths ever appended, forgotten ones included: the number the next
    // one gets.
    std::size_t size() const { return base + ends.size(); }
    // The number of the first path held.
    std::size_t first() const { return base; }
    // Paths and bytes held.
    std::size_t held() const { return ends.size(); }
    std::size_t bytes() const { return block.size(); }
    bool empty() const { return ends.empty(); }

    // Path i, one that is held; valid until paths are appended or forgotten.
    std::string_view view(std::size_t i) const
    {
        const std::size_t at = i - base;
        const std::size_t begin = at == 0 ? baseBytes : ends[at - 1];
        return std::string_view(block.data() + (begin - baseBytes), ends[at] - begin);
    }

    void append(const char *path, std::size_t length)
    {
        block.append(path, length);
        ends.push_back(baseBytes + block.size());
    }
    // A path made of two parts, a folder's path and a name in it.
    void append(const std::string &head, const std::string &tail)
    {
        block += head;
        block += tail;
        ends.push_back(baseBytes + block.size());
    }
    // Appends the paths that batch holds, all of them or, where memory runs
    // out, none: room is made first, growing as the containers grow
    // themselves, so that nothing after it can fail.
    void append(const PackedPaths &batch);
    // Sets room aside for paths more paths of bytes more bytes.
    void reserve(std::size_t paths, std::size_t bytes);

    // Drops the paths numbered below index. Forgetting moves what is still
    // held to the front, so a caller that keeps paths flowing through
    // forgets once a good part is done with.
    void forgetBefore(std::size_t index);
    // Drops every path and numbers from 0 again; memory is kept for reuse.
    void clear();

private:
    std::string block;
    // Where each held path ends, counted from the start of the first path
    // ever appended: forgetting need not rewrite them.
    std::vector<std::size_t> ends;
    // Paths and bytes forgotten.
    std::size_t base = 0;
    std::size_t baseBytes = 0;
};
