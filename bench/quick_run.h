// Every benchmark takes `--quick` as its first argument: it then runs its
// smallest case, to show that it still runs to its end (CI does this after
// every change). The figures of a quick run say nothing.
#pragma once

#include <cstring>

namespace halvorin::bench {

// Takes the flag out of argv, so the benchmark's own arguments keep their
// places (argv[argc] stays the terminating null).
inline bool TakeQuickFlag(int& argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--quick") != 0) return false;
    for (int i = 1; i < argc; ++i)
        argv[i] = argv[i + 1];
    --argc;
    return true;
}

}  // namespace halvorin::bench
