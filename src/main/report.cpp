#include "report.h"

#include <cstdio>

void print_status(const StorageStatus& status) { fputs(storage_message(status).c_str(), stdout); }

bool report_load(const StorageStatus& status) {
    fputs(load_message(status).c_str(), stdout);
    return bool(status);
}

bool read_swap_list_or_say(const char* path, SwapList& list) {
    SwapListError why;
    if (read_swap_list(path, list, &why)) return true;
    printf("Swap list %s: %s\n", printable(path).c_str(), describe(why).c_str());
    if (why.kind == SwapListError::READ) print_status(failed(LOAD_READ, path, why.error));
    printf("Failed to load swapfile!\n");
    return false;
}
