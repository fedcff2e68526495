// Commands whose work is not built yet: each answers "?" with its summary line and
// otherwise fails with "not implemented yet".
#include "interp/commands.h"

#define PENDING_COMMAND(fn, summary) \
    int fn(int argc, char** argv) { return pending_command(argc, argv, summary); }

PENDING_COMMAND(cmd_gauss, "gaussian blur effect")
