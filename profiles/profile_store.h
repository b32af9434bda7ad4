// The player's profile in the score file: looked up once after the name is typed,
// stored once after the report (appended for a new player, otherwise written first
// into a rewritten score file).
#pragma once

#include <cstdint>

#include "core/run_state.h"
#include "io/byte_reader.h"
#include "platform/platform.h"

class PlainRunAhead;

enum class Lookup {
    Failed,  // the score file cannot be used; a reason went to stderr
    Found,   // the player's stored record is in the PlayerProfile
    Fresh,   // no whole record has the name: a fresh profile
};

// What the lookup learnt of the score file, for the save at the end of the run.
struct ScoreLookup {
    Lookup outcome;
    // Set when the file held the player's record once, among records that all
    // stand one a line in the writer's form, with single line feeds between
    // them: a rewrite of that same, unchanged file is then the new record and the
    // old bytes around the old one, copied in blocks.
    bool blockCopy;
    platform::FileIdentity file;
    std::int64_t firstRecord;  // offset of the first record
    std::int64_t recordStart;  // the player's record: its first byte
    std::int64_t recordEnd;    // and the byte after its last
};

// Fills the run's PlayerProfile with the first whole stored record named
// typedName, or with a fresh profile.
ScoreLookup loadProfile(const char* typedName);

struct LockTimes;
struct SaveVoice;
// The same for any profile, with the given lock times and voice for the lock it
// may take to put back a score file that a save left under its copy's name.
ScoreLookup lookUpProfile(const char* typedName, PlayerProfile& profile, const LockTimes& times,
                          const SaveVoice& voice);

// Fills profile from the first whole record of in named typedName. Returns false,
// with profile's fields unspecified, when there is none. lookup gets the places
// and the verdict on a block copy (not the outcome or the file's identity).
// ahead, when given, has judged the lines from its from() on meanwhile.
bool findProfile(ByteReader& in, const char* typedName, PlayerProfile& profile, ScoreLookup& lookup,
                 PlainRunAhead* ahead = nullptr);

// Stores the run's PlayerProfile: a returning player's record (found by the
// lookup) replaces the stored one, a new player's is appended (or replaces one
// of the same name that another game stored since the lookup). Returns false when
// the score file could not be updated; it is then left as it was and one line on
// stderr says why. Nothing is stored for a name the file cannot hold.
bool saveProfile(const char* typedName, const ScoreLookup& lookup);
