// The player's profile in the score file: looked up once after the name is typed,
// stored once after the report (appended for a new player, otherwise written first
// into a rewritten score file).
#pragma once

#include "app/run_state.h"
#include "io/byte_reader.h"

enum class Lookup {
    Failed,  // the score file cannot be used; a reason went to stderr
    Found,   // the player's stored record is in the PlayerProfile
    Fresh,   // no whole record has the name: a fresh profile
};

// Fills the run's PlayerProfile with the first whole stored record named
// typedName, or with a fresh profile.
Lookup loadProfile(const char* typedName);

// Fills profile from the first whole record of in named typedName. Returns false,
// with profile's fields unspecified, when there is none.
bool findProfile(ByteReader& in, const char* typedName, PlayerProfile& profile);

// Stores the run's PlayerProfile: a returning player's record (found by the
// lookup) replaces the stored one, a new player's is appended (or replaces one
// of the same name that another game stored since the lookup). Returns false when
// the score file could not be updated; it is then left as it was and one line on
// stderr says why. Nothing is stored for a name the file cannot hold.
bool saveProfile(const char* typedName, bool returning);
