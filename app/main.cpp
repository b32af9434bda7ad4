// Entry point. Without arguments the game plays one run and reads no settings;
// --help and --version answer instead.
#include "app/options.h"
#include "app/run_driver.h"

int main(int argc, char** argv) {
    int status = handleOptions(argc, argv);
    return status == kPlayGame ? runProgram() : status;
}
