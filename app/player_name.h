// The rule for a typed player name: which lines the name prompt refuses, and why.
#pragma once

// Why a typed name of length bytes (as readNameLine returned them) cannot be
// kept, as the line to print, or nullptr when it can.
const char* nameRefusal(const char* name, int length);
