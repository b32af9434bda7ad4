// The index of record starts (see record_index.h).
#include "questions/record_index.h"

#include <cstring>

#include "core/run_state.h"

namespace {

// Keeps every other place, so that a place is free again at twice the stride.
void thinOut(RecordIndex& index) {
    for (std::int32_t place = 0; place < index.places / 2; ++place) index.start[place] = index.start[2 * place];
    index.places /= 2;
    index.stride *= 2;
}

// The number of the record whose start is noted next.
std::int64_t nextNotedRecord(RecordIndex& index) {
    if (index.places == kIndexPlaces) thinOut(index);
    return std::int64_t{index.places} * index.stride + 1;
}

}  // namespace

void clearIndex(RecordIndex& index) {
    index.valid = false;
    index.stride = 1;
    index.places = 0;
}

void noteRecordStarts(RecordIndex& index, std::string_view bytes, std::int64_t base, std::int64_t before,
                      std::int64_t feeds) {
    const char* at = bytes.data();
    const char* end = at + bytes.size();
    std::int64_t seen = before;  // line feeds before at
    for (std::int64_t record = nextNotedRecord(index); std::int64_t{kLinesPerRecord} * (record - 1) <= before + feeds;
         record = nextNotedRecord(index)) {
        for (; seen < std::int64_t{kLinesPerRecord} * (record - 1); ++seen) {
            at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at))) + 1;
        }
        index.start[index.places++] = base + (at - bytes.data());
    }
}

void findNearestPlace(const RecordIndex& index, std::int32_t record, std::int32_t& first, std::int64_t& offset) {
    std::int32_t place = (record - 1) / index.stride;
    if (place >= index.places) place = index.places - 1;
    if (place < 0) {  // nothing noted: an empty file
        first = 1;
        offset = 0;
        return;
    }
    first = place * index.stride + 1;
    offset = index.start[place];
}
