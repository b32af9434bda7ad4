// Entry point. The game takes no arguments and reads no settings.
#include "app/run_driver.h"

int main() { return runProgram(); }
