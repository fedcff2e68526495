// Every command handler of kqc, in command-table order. Each is defined in the
// source file of its family (interp/builtin.cpp, buffer/, io/, ops/).
#pragma once

int cmd_bang(int argc, char** argv);         // !         interp/builtin.cpp
int cmd_include(int argc, char** argv);      // < include interp/builtin.cpp
int cmd_help(int argc, char** argv);         // ? help    interp/builtin.cpp
int cmd_adjustcol(int argc, char** argv);    // ops/colour.cpp
int cmd_antiflicker(int argc, char** argv);  // ops/filter.cpp
int cmd_atop(int argc, char** argv);         // ops/composite.cpp
int cmd_blist(int argc, char** argv);        // buffer/buffer_commands.cpp
int cmd_blzoom(int argc, char** argv);       // ops/zoom.cpp
int cmd_blur(int argc, char** argv);         // ops/blur.cpp
int cmd_bumpy(int argc, char** argv);        // ops/effects.cpp
int cmd_bzoom(int argc, char** argv);        // ops/zoom.cpp
int cmd_clear(int argc, char** argv);        // buffer/buffer_commands.cpp
int cmd_copy(int argc, char** argv);         // buffer/rearrange.cpp
int cmd_create(int argc, char** argv);       // buffer/buffer_commands.cpp
int cmd_d1tontsc(int argc, char** argv);      // ops/video.cpp
int cmd_darkness(int argc, char** argv);     // ops/colour.cpp
int cmd_diff(int argc, char** argv);         // ops/dots.cpp
int cmd_dispose(int argc, char** argv);      // buffer/buffer_commands.cpp
int cmd_dissolve(int argc, char** argv);     // ops/colour.cpp
int cmd_dotfile(int argc, char** argv);      // ops/dots.cpp
int cmd_field(int argc, char** argv);        // buffer/rearrange.cpp
int cmd_filter3(int argc, char** argv);      // ops/filter.cpp
int cmd_glow(int argc, char** argv);         // ops/glow.cpp
int cmd_gauss(int argc, char** argv);        // ops/gauss.cpp
int cmd_hdtontsc(int argc, char** argv);      // ops/video.cpp
int cmd_in(int argc, char** argv);           // ops/composite.cpp
int cmd_info(int argc, char** argv);         // buffer/buffer_commands.cpp
int cmd_mono(int argc, char** argv);         // ops/colour.cpp
int cmd_move(int argc, char** argv);         // buffer/rearrange.cpp
int cmd_nega(int argc, char** argv);         // ops/colour.cpp
int cmd_ntsctod1(int argc, char** argv);      // ops/video.cpp
int cmd_opaque(int argc, char** argv);       // ops/colour.cpp
int cmd_out(int argc, char** argv);          // ops/composite.cpp
int cmd_over(int argc, char** argv);         // ops/composite.cpp
int cmd_paint(int argc, char** argv);        // ops/colour.cpp
int cmd_pile(int argc, char** argv);         // ops/colour.cpp
int cmd_plane(int argc, char** argv);        // buffer/rearrange.cpp
int cmd_plus(int argc, char** argv);         // ops/composite.cpp
int cmd_quit(int argc, char** argv);         // interp/builtin.cpp
int cmd_random(int argc, char** argv);       // ops/effects.cpp
int cmd_read(int argc, char** argv);         // io/picture_io.cpp
int cmd_readyuv(int argc, char** argv);      // io/yuv_io.cpp
int cmd_reverse(int argc, char** argv);      // buffer/rearrange.cpp
int cmd_sblur(int argc, char** argv);        // ops/blur.cpp
int cmd_scatter(int argc, char** argv);      // ops/effects.cpp
int cmd_shrink(int argc, char** argv);       // ops/zoom.cpp
int cmd_spread(int argc, char** argv);       // ops/effects.cpp
int cmd_shift(int argc, char** argv);        // buffer/rearrange.cpp
int cmd_tomo(int argc, char** argv);         // ops/dots.cpp
int cmd_write(int argc, char** argv);        // io/picture_io.cpp
int cmd_writedump(int argc, char** argv);    // io/yuv_io.cpp
int cmd_writeyuv(int argc, char** argv);     // io/yuv_io.cpp
int cmd_xor(int argc, char** argv);          // ops/composite.cpp

int cmd_chex(int argc, char** argv);         // plug-in table: ops/chex.cpp

