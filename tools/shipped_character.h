// The shipped character test (questions/bank/character.txt as UTF-8), built into
// pzbank so that a database of one's own intellect questions needs no copy of it.
#pragma once

extern const char kShippedCharacter[];
