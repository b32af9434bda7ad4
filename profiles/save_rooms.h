// The names a save uses beside score.dat. Each game writes its copy under names
// of its own, which carry its number, so that no game ever puts in place a file
// another game wrote: ~pz2004.tmp.N while it is written, ~pz2004.new.N once it
// is whole, and ~pz2004.old.N for the score file it replaced, until checked.
// ~pz2004.tmp itself is only ever left empty.
#pragma once

#include <string>
#include <vector>

struct OwnNames {
    std::string building;  // the copy while it is written: never put back
    std::string complete;  // the whole copy, forced to disk, about to replace score.dat
    std::string replaced;  // the score file the copy replaced, kept until checked
};
OwnNames ownNamesOf(const std::string& number);

// Where score.dat is missing, puts back the newest whole copy that a save which
// did not end left (a share that removes the old file first, then failed).
// Returns the copy's name, or "" when there was none. Called with the lock held.
std::string putBackLeftCopy();

// Removes every copy that is not whole, but this game's own: called by the game
// that takes the lock.
void removePartCopies(const OwnNames& own);

// The whole versions that other games left under names of their own: copies of
// games that lost the lock while stopped, and score files that games replaced
// but did not live to check. The lock's new holder merges each into score.dat
// and removes it, so that a game which resumes after losing the lock finds its
// copy gone and fails, telling so, instead of putting an old version in place.
std::vector<std::string> leftVersions(const OwnNames& own);

// Leaves ~pz2004.tmp empty, with score.dat's owner, group and mode as far as
// this player may give them.
void leaveEmptyTemporary();
