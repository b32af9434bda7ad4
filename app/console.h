// Console conventions shared by every screen: bytes out through the standard
// output stream, a line end that flushes, and the three kinds of input (the name
// line, an answer line, one raw key). Output is flushed before every wait.
#pragma once

#include <cstdint>

#include "core/run_state.h"

void printText(const char* text);
void printNumber(std::int32_t value);
void endLine();  // a line feed, then a flush
// Puts everything printed so far on the screen.
void flushOutput();

// Reads one line into name, keeping at most 23 bytes (the rest of the line is
// discarded, a carriage return before the line feed dropped). Returns the number
// of bytes kept (a NUL byte among them would end the C string early), or -1 when
// standard input had ended before the line began.
int readNameLine(char (&name)[kNameSize]);

// One line of standard input thrown away, its line feed included.
void skipInputLine();
// Reads one line of standard input and keeps its first byte, so that a stray key
// costs one answer at most and never shifts the answers that follow. Returns that
// byte (0..255; a line feed for an empty line), or EOF when input had ended.
int readAnswerLine();
// One key from the terminal, without echo or Enter; returns at once without one.
void waitForKey();

// Prints message and ends the run with status 1; the only way out before the end.
[[noreturn]] void abortRun(const char* message);
