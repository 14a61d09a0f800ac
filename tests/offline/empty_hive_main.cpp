// Writes an empty hive to each path given: test hives for scripts, filled
// afterwards with hivexregedit --merge.
#include "tests/support/hive_files.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestro_empty_hive FILE...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) kestro::test::WriteEmptyHive(argv[i]);
    return 0;
}
