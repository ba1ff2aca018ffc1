// kelbo-tool's main. It stays out of the kelbo_entry library so that the
// test programs can link that library beside their own main.
#include "entry.h"

int main(int argc, char** argv) { return tool_main(argc, argv); }
