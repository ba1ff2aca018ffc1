// kelbo-mksample [--large] OUT: writes a sample tileset to OUT.
#include "sample_tileset.h"

#include <cstdio>
#include <cstring>

namespace {

const char USAGE[] = "usage: kelbo-mksample [--large] OUT\n";

bool is(const char* argument, const char* option) { return strcmp(argument, option) == 0; }

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (is(argv[1], "--help") || is(argv[1], "-h"))) {
        printf("%sWrites a sample tileset to OUT: 300 tiles, or with --large the 4096-tile "
               "layout.\n  -h, --help  print this help\n  --version   print the version\n",
               USAGE);
        return 0;
    }
    if (argc >= 2 && is(argv[1], "--version")) {
        printf("kelbo-mksample %s\n", KELBO_VERSION);
        return 0;
    }
    const bool large = argc >= 2 && is(argv[1], "--large");
    for (int i = large ? 2 : 1; i < argc; ++i) {
        if (argv[i][0] != '-') continue;
        printf("Unknown option: %s\n", argv[i]);
        printf("A file of that name is reached as ./%s\n", argv[i]);
        return 2;
    }
    if (argc != (large ? 3 : 2)) {
        fputs(USAGE, stdout);
        return 2;
    }
    const char* out = argv[argc - 1];
    if (!write_file(out, make_sample_tileset(large))) {
        printf("Failed to write %s\n", out);
        return 1;
    }
    return 0;
}
