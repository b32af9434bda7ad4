// The new content of the score file, written into a game's own copy: the player's
// record first, then every other record of the file it replaces, in order, each
// after a line break. A whole record is written in the writer's form, one the
// game cannot read as its tokens stood, so that no byte of another player is lost.
#pragma once

#include "core/run_state.h"
#include "io/byte_reader.h"
#include "io/byte_writer.h"
#include "platform/platform.h"
#include "profiles/profile_store.h"

// Writes the records of base (open at its start) but those named typedName to
// out, each after a line break. Where base is the file the lookup read,
// unchanged, the bytes around the player's old record are copied in blocks, inside
// the system where it can (copy is then the open copy out writes to). Returns
// false, with why saying so, when base cannot be read or changed meanwhile.
bool copyOtherRecords(platform::FileHandle base, ByteWriter& out, platform::FileHandle copy, const char* typedName,
                      const ScoreLookup* lookup, std::string& why);

// The same for records that stand as a byte string.
void copyOtherRecords(ByteReader& in, ByteWriter& out, const char* typedName);
