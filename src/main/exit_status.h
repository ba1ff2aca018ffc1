// What the programs exit with.
#pragma once

enum ExitStatus {
    EXIT_OK = 0,     // done
    EXIT_FAILED = 1, // a load, a list, a save or the window failed; the message says why
    EXIT_USAGE = 2,  // the command line was wrong
};
