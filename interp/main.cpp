// kqc: the kqc script interpreter.
#include "interp/interp.h"

int main(int argc, char** argv) { return kqc_main(argc, argv); }
