#!/bin/sh
# Writes the manual pages kqc.1, kqtowf.1 and kqconv.1 from the programs' own help
# texts: `kqc -h`, `help` and `<command> -h` for every command, `kqtowf -h` and
# `kqconv -h`. A program not built yet gets a page without its usage section.
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
    for prog in kqc kqtowf kqconv; do
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
[\fB\-s\fR] [\fB\-m\fR] [\fB\-v\fR] [\fB\-t\fR]
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
.SH OPTIONS
TEXT
    usage_of "$kqc" | verbatim
    cat <<'TEXT'
.SH COMMANDS
Each command answers "?" with its one-line summary and "\-h" with its usage text,
which follow here.
TEXT
    printf 'help\n' | $run "$kqc" -s 2>&1 >/dev/null | sed -n 's/^	\([^	]*\)	-> \(.*\)$/\1	\2/p' |
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
include levels), reported as "kqc : error exit".
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
.SH EXAMPLES
.nf
read fg.tkq fg
read bg.tkq bg
create out
over fg bg out
write out result            # writes result.tkq
.fi
.PP
Pictures from and to PNG, JPEG and PAM go through
.BR kqconv (1):
.PP
.nf
kqconv photo.png photo.tkq && kqc comp.kqc && kqconv result.tkq result.png
.fi
.SH SEE ALSO
.BR kqtowf (1),
.BR kqconv (1)
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
kqconv \- convert pictures between .tkq and PNG, JPEG, PPM/PGM and PAM
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
refused); there is no JPEG output. Netpbm files are binary PGM (P5), PPM (P6) and PAM
(P7) of any maxval up to 65535, reduced to 8 bits by rounding.
.PP
.tkq output is an 8-bit (grey), 24-bit (RGB) or 32-bit (RGBA, and grey with alpha as
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
