// The fastest way through a score file, for the form the game writes itself: one
// record a line, five single blanks, numbers in plain decimal. Such lines are
// recognised many bytes at a time and passed over or copied as they stand; any
// other line is left to the general readers of score_record.h.
#pragma once

#include <string_view>

#include "io/byte_reader.h"

// Takes one or more lines from where in stands (at a token), each of them one
// record that the writer would write as it stands and whose name is not name,
// joined by single line feeds; the last one's line feed is left. Returns the
// bytes taken (good until in is used again), empty when the next line is not
// such a line.
std::string_view takePlainLines(ByteReader& in, std::string_view name);
