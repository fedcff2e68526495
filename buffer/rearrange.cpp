// Placeholder until the rearranging commands land.
#include "interp/commands.h"

#define PENDING_COMMAND(fn, summary) \
    int fn(int argc, char** argv) { return pending_command(argc, argv, summary); }

PENDING_COMMAND(cmd_plane, "buff plane manipulation")
PENDING_COMMAND(cmd_field, "buff field manipulation")
PENDING_COMMAND(cmd_copy, "copy buff")
PENDING_COMMAND(cmd_move, "move buff")
PENDING_COMMAND(cmd_reverse, "reverse image")
PENDING_COMMAND(cmd_shift, "shift image")
