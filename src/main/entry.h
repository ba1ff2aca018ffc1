// The command line of kelbo-tool: chooses the batch or the editor route by
// the number of arguments alone. Always returns 0; failures show only as
// messages.
#pragma once

int tool_main(int argc, char** argv);
