// The safety steps of a save and of its lock, each on in every game. The save
// simulator turns each off in turn and finds a schedule that then loses a record,
// reports a save it did not make, or clears a live game's lock: that is how each
// one is known to be needed (doc/design.md lists them).
#pragma once

struct SaveSafety {
    bool systemLock = true;          // a lock the system's own lock shows held is never judged by time
    bool heartbeat = true;           // a holder refreshes its lock while it saves
    bool queue = true;               // the wait's bound counts for each holder, and from its last beat
    bool clearLeftCopies = true;     // the lock's new holder merges in and removes what games that lost it left
    bool checkLockBeforeCommit = true;  // a save looks at its lock right before it changes the score file
    bool confirmAppend = true;       // an append checks afterwards that it reached the score file, else again
    bool checkReplaced = true;       // a rewrite keeps what it replaced and merges in what it did not read
};

extern SaveSafety saveSafety;
