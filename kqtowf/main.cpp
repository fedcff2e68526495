// kqtowf: picture to mapping-material file converter.
#include "kqtowf/kqtowf.h"

int main(int argc, char** argv) { return kqtowf_main(argc, argv); }
