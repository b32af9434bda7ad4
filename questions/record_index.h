// Where the records of the question database begin, noted during the start-up
// count, so that a load can start reading close to its record instead of at the
// first line. A fixed number of places is kept, every stride-th record's, the
// stride doubling as the file proves longer. The index is trusted only while the
// database is the same unchanged file; otherwise a load reads from the start.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

inline constexpr std::int32_t kIndexPlaces = 1024;

struct RecordIndex {
    bool valid;                  // built by a count of the file below
    platform::FileIdentity file;
    std::int32_t stride;         // records from one noted place to the next
    std::int32_t places;         // places noted
    std::int64_t start[kIndexPlaces];  // start[k]: offset of record k * stride + 1
};

// Empties the index for a new count.
void clearIndex(RecordIndex& index);

// Notes the starts of the records that begin in bytes, read from file offset
// base after `before` line feeds; bytes holds `feeds` line feeds.
void noteRecordStarts(RecordIndex& index, std::string_view bytes, std::int64_t base, std::int64_t before,
                      std::int64_t feeds);

// The noted place nearest before record (1 or more): the number of the record
// that begins there, and its offset.
void findNearestPlace(const RecordIndex& index, std::int32_t record, std::int32_t& first, std::int64_t& offset);
