// The fastest way through a score file, for the form the game writes itself: one
// record a line, five single blanks, numbers in plain decimal. Such lines are
// recognised many bytes at a time and passed over or copied as they stand; any
// other line is left to the general readers of score_record.h.
#pragma once

#include <string_view>

#include "io/byte_reader.h"

// Takes the next line, from where in stands (at a token) to its line feed, when
// it is one record that the writer would write as it stands and whose name is
// not name. Returns false, having read nothing, for any other line.
bool takePlainLine(ByteReader& in, std::string_view name, std::string_view& line);

// Takes as many such lines as the buffer holds in one go: lines joined by single
// line feeds, from where in stands (at a token) up to the end of the last line
// taken, its line feed left. Returns the bytes taken (good until in is used
// again), empty for none.
std::string_view takePlainRun(ByteReader& in, std::string_view name);
