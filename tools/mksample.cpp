// kelbo-mksample [--large] OUT: writes a sample tileset to OUT.
#include "sample_tileset.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool large = argc == 3 && strcmp(argv[1], "--large") == 0;
    if (argc != 2 && !large) {
        printf("usage: kelbo-mksample [--large] OUT\n");
        return 2;
    }
    const char* out = argv[argc - 1];
    if (!write_file(out, make_sample_tileset(large))) {
        printf("Failed to write %s\n", out);
        return 1;
    }
    return 0;
}
