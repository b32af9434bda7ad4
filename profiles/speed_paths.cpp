// The one switch board of the score file's fast paths: all on in the game.
#include "profiles/speed_paths.h"

ScoreSpeedPaths scoreSpeedPaths;
