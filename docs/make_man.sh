#!/bin/sh
# Writes the manual pages kqc.1, kqtowf.1, kqconv.1 and kqframes.1 from the
# programs' own help texts: `kqc -h`, `help` and `<command> -h` for every command,
# `kqtowf -h`, `kqconv -h` and `kqframes -h`. A program not built yet gets a page
# without its usage section.
#
#   docs/make_man.sh [BUILD_DIR [OUT_DIR]]      (defaults: build, docs)
#   docs/make_man.sh --check BUILD_DIR DOC_DIR  exit 1 when a page in DOC_DIR differs
#                                                (pages of programs not built are skipped)
# KQ_TEST_RUNNER, when set, is the command line that runs the programs (an emulator).
set -eu
run=${KQ_TEST_RUNNER:-}

check=
if [ "${1:-}" = "--check" ]; then check=1; shift; fi
build=${1:-build}
out=${2:-docs}
kqc=$build/kqc
[ -x "$kqc" ] || { echo "make_man: $kqc is not built" >&2; exit 1; }

if [ -n "$check" ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    "$0" "$build" "$tmp"
    status=0
    for prog in kqc kqtowf kqconv kqframes; do
        page=$prog.1
        if [ ! -x "$build/$prog" ]; then
            echo "make_man: $out/$page not checked: $prog is not built in $build"
            continue
        fi
        if ! cmp -s "$tmp/$page" "$out/$page"; then
            echo "make_man: $out/$page is not what the programs' help texts give; run make man" >&2
            diff -u "$out/$page" "$tmp/$page" >&2 || true
            status=1
        fi
        # Every line renders: a text line that troff takes for a request is lost.
        if command -v groff >/dev/null 2>&1; then
            lost=$(groff -man -Tutf8 -ww -z "$out/$page" 2>&1)
            if [ -n "$lost" ]; then
                echo "make_man: $out/$page does not render cleanly:" >&2
                echo "$lost" >&2
                status=1
            fi
        fi
    done
    exit $status
fi

# Text as a no-fill block: backslashes and leading dots or quotes escaped.
verbatim() {
    echo ".nf"
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" -e 's/	/    /g'
    echo ".fi"
}

# The usage text of a program that prints it on standard error for -h.
usage_of() {
    $run "$1" -h 2>&1 >/dev/null | sed -e '/^==[0-9]*==/d'
}

# Options a program takes beyond those its usage text lists (the usage text stays
# as it always was): one "option<TAB>description" line each on standard input.
more_options() {
    echo '.SS "Options beyond the usage text"'
    while IFS='	' read -r option text; do
        printf '.TP\n.B %s\n%s\n' "$option" "$text" | sed -e 's/-/\\-/g'
    done
}

head_of() {  # name section-title
    cat <<HEAD
.\\" Made by docs/make_man.sh from the programs' help texts; do not edit.
.TH $1 1 "" "kq" "User Commands"
.SH NAME
HEAD
}

# ------------------------------------------------------------------------------ kqc.1
{
    head_of KQC
    cat <<'TEXT'
kqc \- run kqc image compositing scripts
.SH SYNOPSIS
.B kqc
[\fB\-s\fR] [\fB\-m\fR] [\fB\-v\fR] [\fB\-t\fR] [\fB\-e\fR] [\fB\-k\fR] [\fB\-j\fR \fIn\fR]
.I script
.br
.B kqc
[\fIoptions\fR] < \fIscript\fR
.br
.B kqc
\fB\-ver\fR | \fB\-info\fR | \fB\-h\fR
.SH DESCRIPTION
.B kqc
reads a script line by line and runs each line as a command on named in-memory
images (ImageBuffers of one, three or four 8-bit planes: red, green, blue, alpha,
premultiplied colour, y axis pointing up). Without a script name it reads standard
input, with the prompt "(kqc) ". A "#" starts a comment; commas and tabs separate
words like spaces; a command word may be shortened down to its minimum length.
Everything is reported on standard error.
.SH INTERACTIVE USE
When standard input and standard error are a terminal and
.B \-s
is not given, the prompt line can be edited with the emacs keys of
.BR editline (7)
(the arrow keys, Ctrl-A, Ctrl-E, Ctrl-K, Ctrl-Y, Ctrl-R to search back), and
.I ~/.editrc
is honoured. Up and down walk through earlier lines, also those of earlier
sessions. Tab completes the command word, buffer names, and file names for
read, write, readyuv, writeyuv, writedump, dotfile, include and "<"; where it
cannot extend the word, it lists the choices. Scripts, pipes and
.B \-s
are read plainly, as without a terminal.
.SH OPTIONS
TEXT
    usage_of "$kqc" | verbatim
    more_options <<'TEXT'
-e	Strict mode, for pipelines and batch jobs: the first command line that fails ends the run with status 1, after the usual report of that line and "kqc : error exit". A line fails when its command reports an error, when it could not do all it was asked although it goes on quietly by default (read of a picture that cannot be opened, write of a missing buffer, readyuv of a missing or short file, writeyuv or writedump that cannot write, a dot file that stops before its end, a plane key of copy with a letter other than r, g, b, a, a difference report of diff that cannot be written, a shell command of "!" that exits with a status other than 0), and when its first word names no command ("ERROR : Unknown command word"). This holds in included scripts too.
-k	Keep going: the run goes on after failed lines, which are reported as under -e, and ends with "ERROR : n command line(s) failed" and status 1 when any line failed.
TEXT
    cat <<'TEXT'
.TP
.BI \-j " n"
Run the image operations on
.I n
threads (1 to 1024). Without
.B \-j
kqc uses every CPU the process may run on; with
.B "\-j 1"
it runs on one thread only. The output is the same, byte for byte, for every
.IR n .
With
.BR \-v ,
a given
.B \-j
adds the line "\-j : n" to the option dump.
.PP
Without \-e and \-k a word that names no command is ignored; typed at the prompt
(standard input a terminal, no \-s) it gets the hint "WARNING : unknown command word
(help lists the commands)". The option dump of \-v lists \-e and \-k when they are
given.
.SH COMMANDS
Each command answers "?" with its one-line summary and "\-h" with its usage text,
which follow here.
TEXT
    printf 'help\n' | $run "$kqc" -e -s 2>&1 >/dev/null | sed -n 's/^	\([^	]*\)	-> \(.*\)$/\1	\2/p' |
    while IFS='	' read -r word summary; do
        printf '.SS %s\n' "$word" | sed -e 's/\\/\\e/g'
        printf '%s\n' "$summary" | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
        if [ "$word" = "!" ]; then
            printf '.PP\n.nf\n! shellCommand\n.fi\n'
            continue
        fi
        text=$(printf '%s -h\n' "$word" | $run "$kqc" -s 2>&1 >/dev/null | sed -e '/^==[0-9]*==/d')
        case $text in
            *"not implemented yet"*) ;;
            *) printf '.PP\n'; printf '%s\n' "$text" | verbatim ;;
        esac
    done
    cat <<'TEXT'
.SH EXIT STATUS
0 at the end of the script or after
.BR quit ,
also when commands failed (a failed command rings the bell, reports the script,
line number and line, and the script goes on); 1 after a fatal error (memory
exhausted, a script that cannot be opened, too many words on a line or too many
include levels), reported as "kqc : error exit". With
.B \-e
1 at the first failed line; with
.B \-k
1 at the end when any line failed.
.SH FILES
.TP
.I *.tkq
pictures: a 128-byte text header and packed scanlines, top row first; read and
write search and append the extension ".tkq"; STDIN and STDOUT name the standard
streams.
.TP
.I *.kqc
scripts, run by name or included with
.B include
or
.BR < .
.TP
.I ~/.kqc_history
the last 1000 lines typed at the prompt, written when kqc ends.
.SH EXAMPLES
.nf
read fg.tkq fg
read bg.tkq bg
create out
over fg bg out
write out result            # writes result.tkq
.fi
.PP
In a job that must not go on after a failure:
.PP
.nf
kqc \-e comp.kqc && kqconv result.tkq result.png
.fi
.PP
A batch that runs every line and still reports failure:
.PP
.nf
kqc \-k batch.kqc || echo "some lines of batch.kqc failed"
.fi
.PP
Pictures from and to PNG, JPEG and PAM go through
.BR kqconv (1):
.PP
.nf
kqconv photo.png photo.tkq && kqc comp.kqc && kqconv result.tkq result.png
.fi
.SH VIDEO
.B readyuv
and
.B writeyuv
exchange raw frames: no header, rows from the top of the picture down, each row
width / 2 groups of four bytes Cb, Y (left pixel), Cr, Y (right pixel), that is
UYVY 4:2:2 (ffmpeg's pixel format uyvy422), 8 bits, ITU-R BT.601 studio range
(luma 16 to 235, chroma centred on 128). The width is even; the default size is
720 x 486.
.PP
.nf
ffmpeg \-i in.mov \-s 720x486 \-f image2 \-c:v rawvideo \-pix_fmt uyvy422 frame%04d.yuv
kqc frame.kqc            # readyuv frame0001.yuv f ... writeyuv f out0001.yuv
cat out*.yuv | ffmpeg \-f rawvideo \-pix_fmt uyvy422 \-s 720x486 \-r 30000/1001 \-i \- out.mov
.fi
.SH SEE ALSO
.BR kqtowf (1),
.BR kqconv (1),
.BR kqframes (1)
TEXT
} > "$out/kqc.1"

# --------------------------------------------------------------------------- kqtowf.1
{
    head_of KQTOWF
    cat <<'TEXT'
kqtowf \- convert a picture into a mapping-material (.wf) texture file
.SH SYNOPSIS
.B kqtowf
[\fIoptions\fR]
.I inFile outWF
.SH DESCRIPTION
.B kqtowf
reads one picture and writes one mapping-material file: a MIP-MAP or SUPER-MIP-MAP
pyramid of square power-of-two levels, or a grid of summed-area tiles, built from
the chosen planes and window of the picture. It takes the picture's channels 1, 2,
3 and 4 as red, green, blue and alpha; pictures written by
.BR kqc (1)
hold blue, green, red (and alpha first) in those channels.
.SH OPTIONS
TEXT
    if [ -x "$build/kqtowf" ]; then
        usage_of "$build/kqtowf" | verbatim
    else
        echo "The usage text comes from the program, which was not built when this page was made."
    fi
    cat <<'TEXT'
.TP
.BI \-j " n"
Read the picture rows, build the levels and resample on
.I n
threads (1 to 1024; default: every CPU the process may use). The file written is
the same, byte for byte, for every
.IR n .
With
.BR \-v ,
a given
.B \-j
adds the line "\-j : n threads" to the argument dump.
.SH EXIT STATUS
0 on success, 1 after an error.
.SH FILES
.TP
.I *.tkq
input pictures.
.TP
.I *.wf
mapping-material files (magic "2BMI").
.SH EXAMPLES
.nf
kqtowf -m 0 wood.tkq wood.wf
kqtowf -A 8 8 -p rgb wall.tkq wall.wf
.fi
.SH SEE ALSO
.BR kqc (1),
.BR kqconv (1)
TEXT
} > "$out/kqtowf.1"

# --------------------------------------------------------------------------- kqconv.1
{
    head_of KQCONV
    cat <<'TEXT'
kqconv \- convert pictures between .tkq and PNG, JPEG, TIFF, OpenEXR and other formats
.SH SYNOPSIS
.B kqconv
[\fB\-\-straight\fR] [\fB\-\-to\fR \fIformat\fR] [\fB\-\-level\fR \fIn\fR]
.I inFile outFile
.SH DESCRIPTION
.B kqconv
converts one picture. The input format is recognised by the file's first bytes,
the output format by the output name's extension (or
.BR \-\-to ).
.PP
PNG, JPEG and PAM hold straight colour, .tkq pictures hold premultiplied colour as
.BR kqc (1)
expects: a picture with alpha is premultiplied on the way into .tkq exactly as
kqc's
.B pile
does, and un-premultiplied on the way out exactly as
.B pile \-r
does.
.B \-\-straight
copies the samples unchanged both ways. Opaque pictures convert bit-exactly both ways.
.PP
PNG input: grey, grey with alpha, RGB, RGBA and palette pictures of 1 to 16 bits;
palettes and transparency chunks are expanded and 16-bit samples rounded to 8 bits.
Gamma and colour-space chunks (gAMA, cHRM, sRGB, iCCP) are ignored: the samples are
taken as they stand. PNG output is 8-bit. JPEG input is grey or colour (CMYK is
refused); JPEG output takes \fB\-\-quality\fR. TIFF keeps kqc's premultiplied
colour exactly (associated alpha); OpenEXR holds linear light, converted through
the sRGB transfer unless \fB\-\-linear\fR. WebP output is lossless (it round trips
what PNG does) unless \fB\-\-quality\fR asks for the lossy coder at that quality;
\fB\-\-level\fR is its lossless effort. The OPTIONS section lists every format
with what it keeps. Netpbm files are binary PGM (P5), PPM (P6) and PAM
(P7) of any maxval up to 65535, reduced to 8 bits by rounding.
.PP
\&.tkq output is an 8-bit (grey), 24-bit (RGB) or 32-bit (RGBA, and grey with alpha as
RGBA) frame at origin 0 0 with square pixels, laid out as kqc's
.B write
does: 24-bit pixels hold blue, green, red and 32-bit pixels red, green, blue, alpha
in byte order, so a PNG's red lands in kqc's red plane. Every .tkq kind converts
out: 1- and 12-bit channels are scaled to 8 bits, fields give their missing rows as
0, and pictures of 32-bit values give the value's bytes, most significant first, as
red, green, blue and alpha.
.PP
"\-" reads standard input or writes standard output (as .tkq unless
.B \-\-to
says otherwise). An existing output file is replaced only when the new one is
complete.
.SH OPTIONS
TEXT
    if [ -x "$build/kqconv" ]; then
        usage_of "$build/kqconv" | verbatim
    else
        echo "The usage text comes from the program, which was not built when this page was made."
    fi
    cat <<'TEXT'
.SH EXIT STATUS
0 on success; 1 after an error, reported on one line that names the file and the
reason, for example "ERROR : in.png : bad PNG: truncated PNG data".
.SH EXAMPLES
.nf
kqconv photo.jpg photo.tkq
kqconv matte.png \- | kqc comp.kqc        # comp.kqc reads STDIN
kqconv result.tkq result.png
kqconv \-\-straight \-\-to pam layer.tkq \- | display \-
.fi
.SH SEE ALSO
.BR kqc (1),
.BR kqtowf (1)
TEXT
} > "$out/kqconv.1"

# ------------------------------------------------------------------------- kqframes.1
{
    head_of KQFRAMES
    cat <<'TEXT'
kqframes \- run a kqc script template over a numbered frame sequence
.SH SYNOPSIS
.B kqframes
[\fIoptions\fR]
.I template first last
.SH DESCRIPTION
.B kqframes
makes one script per frame from
.I template
by replacing @FRAME@ (the zero-padded frame number), @IN@, @IN2@, ... (the
frame's inputs, from the
.B \-\-in
patterns) and @OUT@, @OUT2@, ... (its outputs, from
.BR \-\-out ),
and runs them in the current folder. Frames are grouped into batches; each batch is
one
.B kqc \-e \-s
process that includes its frames' scripts one after another, so a failure stops at
its line and the error report names the frame's script and line. The frames of a
batch share the process: a template makes (create) or reads every buffer it uses.
.PP
A frame fails when one of its inputs is missing or one of its lines fails; it then
keeps no output it wrote. After a failure no further batch starts unless
.B \-k
is given; the run ends with status 1 and a summary of the failed frames, their
first error lines and where the logs are. On a terminal a progress line shows
the frames done, frames per second, the time left and the failures so far.
.PP
Engines: batches one after another (\fB\-j 1\fR, or when GNU parallel is
missing); side by side through GNU parallel (\fB\-j\fR \fIN\fR); on ssh logins
through GNU parallel
.B \-\-sshlogin
(\fB\-S\fR), which sends each host the assets once and each batch its frame
scripts and inputs, and brings back the outputs of the frames that succeeded (rsync
and kqc must be installed on every host); a Slurm array of batches (\fB\-\-slurm\fR
prints the sbatch script, \fB\-\-submit\fR submits it, waits and reports), whose
task fails when one of its frames fails. The Slurm tasks need the current folder on
a shared file system. Each kqc runs with one thread (\fBkqc \-j 1\fR) unless
\fB\-\-threads\fR says otherwise: the batches side by side use the cores.
.SH OPTIONS
TEXT
    if [ -x "$build/kqframes" ]; then
        "$build/kqframes" -h | verbatim
    else
        echo "The usage text comes from the program, which was not built when this page was made."
    fi
    cat <<'TEXT'
.SH FILES
.TP
.I .kqframes/TEMPLATE-FIRST-LAST/
the run's folder (\fB\-\-work\fR): frames/ the scripts made from the template,
batches/ the frame lists, logs/bNNNN.log one log per batch (each frame's messages,
then a line "@@ FRAME ok", "@@ FRAME failed ..." or "@@ FRAME missing input: ..."),
joblog (GNU parallel's job log). It is made anew by each run.
.SH EXAMPLES
.nf
kqframes \-\-in 'in/%04d.tkq' \-\-out 'out/%04d.tkq' \-\-asset title.tkq frame.kqc 1 240
kqframes \-j 2 \-k \-\-in 'src/%04d.yuv' \-\-out 'dst/%04d.tkq' yuv.kqc 1 240
kqframes \-\-resume \-\-in 'in/%04d.tkq' \-\-out 'out/%04d.tkq' frame.kqc 1 240
kqframes \-S :,alice@node1,node2 \-\-in 'in/%04d.tkq' \-\-out 'out/%04d.tkq' frame.kqc 1 240
kqframes \-\-slurm \-\-in 'in/%04d.tkq' \-\-out 'out/%04d.tkq' frame.kqc 1 240 | sbatch
.fi
.SH SEE ALSO
.BR kqc (1),
.BR parallel (1),
.BR sbatch (1)
TEXT
} > "$out/kqframes.1"
