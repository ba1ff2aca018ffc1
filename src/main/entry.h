// The command line of kelbo-tool: an option as the first argument (--help,
// --version, the list tools), otherwise the number of arguments chooses
// the batch or the editor route.
#pragma once

#include "exit_status.h"

int tool_main(int argc, char** argv);
