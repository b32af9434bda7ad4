// The console: standard output as bytes, standard input through the C runtime's
// buffered reads a line at a time, and the raw key read of the platform layer for
// the pauses.
#include "app/console.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/platform.h"

void printText(const char* text) { std::cout << text; }

void printNumber(std::int32_t value) { std::cout << value; }

void endLine() { std::cout << std::endl; }

void flushOutput() { std::cout.flush(); }

int readNameLine(char (&name)[kNameSize]) {
    flushOutput();
    int length = 0;
    int byte = std::getchar();
    if (byte == EOF) {
        name[0] = '\0';
        return -1;
    }
    bool lastWasReturn = false;
    long rawLength = 0;
    for (; byte != EOF && byte != '\n'; byte = std::getchar()) {
        if (length < kNameSize - 1) name[length++] = static_cast<char>(byte);
        lastWasReturn = byte == '\r';
        ++rawLength;
    }
    if (lastWasReturn && rawLength <= kNameSize - 1) --length;
    name[length] = '\0';
    return length;
}

namespace {

// Reads on from byte to the end of its line, the line feed included.
void skipRestOfLine(int byte) {
    while (byte != EOF && byte != '\n') byte = std::getchar();
}

}  // namespace

void skipInputLine() {
    flushOutput();
    skipRestOfLine(std::getchar());
}

int readAnswerLine() {
    flushOutput();
    int answer = std::getchar();
    skipRestOfLine(answer);
    return answer;
}

void waitForKey() {
    flushOutput();
    platform::readRawKey();
}

void abortRun(const char* message) {
    std::cout << message;
    std::cout.flush();
    std::exit(1);
}
