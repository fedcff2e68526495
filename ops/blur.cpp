// Placeholder until the box blurs land.
#include "interp/commands.h"

#define PENDING_COMMAND(fn, summary) \
    int fn(int argc, char** argv) { return pending_command(argc, argv, summary); }

PENDING_COMMAND(cmd_blur, "blur effect")
PENDING_COMMAND(cmd_sblur, "silhoetteBlur effect")
