// The score file's fast paths, switched on together for every game. Each must
// leave exactly the bytes and the profile that plain record-by-record reading
// leaves; the seam lets a test run both ways over the same files and compare.
#pragma once

struct ScoreSpeedPaths {
    bool plainLines = true;   // lines in the writer's form judged 64 bytes at a time, passed or copied whole
    bool wholeTokens = true;  // a record that lies whole in the reader's window read from it in place
    bool runAhead = true;     // a helper thread judges the second half of a long file meanwhile
    bool blockCopy = true;    // a rewrite copies the bytes around the player's old record in blocks
};

extern ScoreSpeedPaths scoreSpeedPaths;
