// Commands whose work is not built yet: each answers "?" with its summary line and
// otherwise fails with "not implemented yet".
#include "interp/commands.h"

#define PENDING_COMMAND(fn, summary) \
    int fn(int argc, char** argv) { return pending_command(argc, argv, summary); }

PENDING_COMMAND(cmd_adjustcol, "adjust color")
PENDING_COMMAND(cmd_antiflicker, "antiFlicker effect")
PENDING_COMMAND(cmd_blzoom, "bi-linear zoom effect")
PENDING_COMMAND(cmd_bumpy, "bumpy effect")
PENDING_COMMAND(cmd_bzoom, "bad zoom effect")
PENDING_COMMAND(cmd_d1tontsc, "convert 720x486 to 640x480")
PENDING_COMMAND(cmd_darkness, "darkness operation")
PENDING_COMMAND(cmd_diff, "display differential info")
PENDING_COMMAND(cmd_dissolve, "dissolve operation")
PENDING_COMMAND(cmd_dotfile, "write dot by dotfile")
PENDING_COMMAND(cmd_filter3, "3x3 filter effect")
PENDING_COMMAND(cmd_glow, "glow effect")
PENDING_COMMAND(cmd_hdtontsc, "convert 1920x1035 to 640x360")
PENDING_COMMAND(cmd_mono, "mono effect")
PENDING_COMMAND(cmd_nega, "nega effect")
PENDING_COMMAND(cmd_ntsctod1, "convert 640x480 to 720x486")
PENDING_COMMAND(cmd_opaque, "opaque operation")
PENDING_COMMAND(cmd_paint, "paint mono data")
PENDING_COMMAND(cmd_pile, "pile effect")
PENDING_COMMAND(cmd_random, "generate random pixel pattern")
PENDING_COMMAND(cmd_readyuv, "read YUV data")
PENDING_COMMAND(cmd_scatter, "scatter pixel effect")
PENDING_COMMAND(cmd_shrink, "make shrink image")
PENDING_COMMAND(cmd_spread, "spread effect")
PENDING_COMMAND(cmd_tomo, "convert to tarvel data")
PENDING_COMMAND(cmd_writedump, "write dump data")
PENDING_COMMAND(cmd_writeyuv, "write YUV data")
