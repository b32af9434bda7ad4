// The names a save uses beside score.dat. Each game writes its copy under names
// of its own, which carry its number, so that no game ever puts in place a file
// another game wrote: ~pz2004.tmp.N while it is written, ~pz2004.new.N once it
// is whole, and ~pz2004.old.N for the score file it replaced, until checked
// (~pz2004.old.N.R in its R-th round). ~pz2004.tmp itself is only ever left empty.
#pragma once

#include <string>
#include <vector>

struct OwnNames {
    std::string building;  // the copy while it is written: never put back
    std::string complete;  // the whole copy, forced to disk, about to replace score.dat
    std::string replaced;  // the score file the copy replaced, kept until checked
};
OwnNames ownNamesOf(const std::string& number);
std::string replacedName(const OwnNames& names, int round);

// Where score.dat is missing, puts back the newest whole copy that a save which
// did not end left (a share that removes the old file first, then failed).
// Returns the copy's name, or "" when there was none. Called with the lock held.
std::string putBackLeftCopy();

// Removes every copy but this game's own: called by the game that takes the
// lock, so that a game which lost the lock while it was stopped finds its copy
// gone when it resumes and fails, telling so, instead of putting an old version
// in place.
void removeLeftCopies(const OwnNames& own);

// The score files that other games replaced and kept, and did not live to
// check: the lock's new holder merges each in and removes it.
std::vector<std::string> leftVersions(const OwnNames& own);

// Leaves ~pz2004.tmp empty, with score.dat's owner, group and mode as far as
// this player may give them.
void leaveEmptyTemporary();
