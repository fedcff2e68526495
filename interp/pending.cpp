// Commands whose work is not built yet: each answers "?" with its summary line and
// otherwise fails with "not implemented yet".
#include "interp/commands.h"

#define PENDING_COMMAND(fn, summary) \
    int fn(int argc, char** argv) { return pending_command(argc, argv, summary); }

PENDING_COMMAND(cmd_adjustcol, "adjust color")
PENDING_COMMAND(cmd_darkness, "darkness operation")
PENDING_COMMAND(cmd_diff, "display differential info")
PENDING_COMMAND(cmd_dissolve, "dissolve operation")
PENDING_COMMAND(cmd_dotfile, "write dot by dotfile")
PENDING_COMMAND(cmd_gauss, "gaussian blur effect")
PENDING_COMMAND(cmd_mono, "mono effect")
PENDING_COMMAND(cmd_nega, "nega effect")
PENDING_COMMAND(cmd_opaque, "opaque operation")
PENDING_COMMAND(cmd_paint, "paint mono data")
PENDING_COMMAND(cmd_pile, "pile effect")
PENDING_COMMAND(cmd_tomo, "convert to tarvel data")
