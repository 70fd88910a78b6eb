#include "checksumwriter.h"

#include "checksumline.h"

bool ChecksumWriter::commit(const std::vector<HashRecord> &records)
{
    // Every record is checked before a byte is written: a record that
    // would not read back leaves nothing behind.
    for (const HashRecord &record : records) {
        if (!ChecksumLine::fits(record.path, record.hash))
            return refuse(0);
    }
    for (const HashRecord &record : records) {
        if (!append(record.path, record.hash))
            return false;
    }
    return commit();
}
