// The player's profile in the score file: looked up once after the name is typed,
// stored once after the report (appended for a new player, otherwise written first
// into a rewritten score file).
#pragma once

#include <istream>

#include "app/run_state.h"

// Fills the run's PlayerProfile with the first whole stored record named
// typedName, or with a fresh profile. Returns false when the score file cannot be
// opened for reading and writing (a reason goes to stderr).
bool loadProfile(const char* typedName);

// Fills profile from the first whole record of in named typedName. Returns false,
// with profile's fields unspecified, when there is none.
bool findProfile(std::istream& in, const char* typedName, PlayerProfile& profile);

// Stores the run's PlayerProfile. Returns false when the score file could not be
// updated; it is then left as it was and one line on stderr says why.
bool saveProfile(const char* typedName);
