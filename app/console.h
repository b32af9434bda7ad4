// Console conventions shared by every screen: bytes out through the standard
// output stream, a line end that flushes, and the three kinds of input (the name
// line, one buffered byte, one raw key). Output is flushed before every wait.
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

// One byte of buffered standard input thrown away.
void skipInputChar();
// One byte of buffered standard input (0..255), or EOF at its end.
int readAnswerChar();
// One key from the terminal, without echo or Enter; returns at once without one.
void waitForKey();

// Prints message and ends the run with status 1; the only way out before the end.
[[noreturn]] void abortRun(const char* message);
