#pragma once

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

// Runs the suite again on a session bus of its own (dbus-run-session), so that
// notifications posted by suites running beside it on the shared bus cannot be
// counted here. Returns only in the re-run process; exits when the bus cannot be had.
inline void reexecOnPrivateBus(int argc, char** argv) {
    if (std::getenv("QUILLO_PRIVATE_BUS"))
        return;
    setenv("QUILLO_PRIVATE_BUS", "1", 1);
    std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("dbus-run-session", args.data());
    std::perror("dbus-run-session");
    std::exit(1);
}
