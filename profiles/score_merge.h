// Merging two versions of the score file, for a save that finds it replaced a
// version it had not read (a game that lost the lock while stopped and saved all
// the same, or one that appended meanwhile): nobody's record may be lost for it.
#pragma once

#include <string>

#include "io/byte_writer.h"
#include "platform/platform.h"

// Writes to out, each after a line break, every record of replaced and of
// current but those named typedName: replaced's in its order, a player found in
// both in the form with more runs (the later one), then those only current
// holds, in its order. Records the game cannot read are kept as their tokens
// stood, once. Both files are open at their start. Returns false, with why
// saying so, when either cannot be read.
bool mergeScoreVersions(platform::FileHandle replaced, platform::FileHandle current, ByteWriter& out,
                        const char* typedName, std::string& why);
