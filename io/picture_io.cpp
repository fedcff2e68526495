// Placeholder until read and write land.
#include "interp/commands.h"

#define PENDING_COMMAND(fn, summary) \
    int fn(int argc, char** argv) { return pending_command(argc, argv, summary); }

PENDING_COMMAND(cmd_read, "read .tkq data to buff")
PENDING_COMMAND(cmd_write, "write .tkq data")
