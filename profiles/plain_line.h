// The fastest way through a score file, for the form the game writes itself: one
// record a line, five single blanks, numbers in plain decimal. Such lines are
// recognised many bytes at a time and passed over or copied as they stand; any
// other line is left to the general readers of score_record.h.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

#include "io/byte_reader.h"

// Takes one or more lines from where in stands (at a token), each of them one
// record that the writer would write as it stands and whose name is not name,
// joined by single line feeds; the last one's line feed is left. Lines whose
// line feed lies at or past the offset until are left too, while in stands
// before until (at or past it, until sets no limit). Returns the bytes
// taken (good until in is used again), empty when the next line is not such a
// line.
std::string_view takePlainLines(ByteReader& in, std::string_view name,
                                std::int64_t until = std::numeric_limits<std::int64_t>::max());

// The same judgement over bytes at hand, from a line's start: the offset of the
// line feed that ends the last of the lines takePlainLines would take, 0 when
// the first line is not such a line or its line feed is not in text.
std::size_t measurePlainLines(std::string_view text, std::string_view name);
