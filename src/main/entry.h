// The command line of kelbo-tool: an option as the first argument (--help,
// --version, the list tools), otherwise the number of arguments chooses
// the batch or the editor route.
#pragma once

// What the programs exit with.
enum ExitStatus {
    EXIT_OK = 0,     // done
    EXIT_FAILED = 1, // a load, a list, a save or the window failed; the message says why
    EXIT_USAGE = 2,  // the command line was wrong
};

int tool_main(int argc, char** argv);
