// The one switch board of the save's safety steps: all on in the game.
#include "lock/save_safety.h"

SaveSafety saveSafety;
