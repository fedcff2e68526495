// The kqc interpreter: the input is a script, read by the real reader and run by
// the dispatcher over every command, in a scratch folder.
#include "fuzz_support.h"
#include "interp/dispatch.h"
#include "interp/interp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::enter_scratch();
    fuzz::put_file("f.kqc", data, size);
    char prog[] = "kqc", silent[] = "-s", script[] = "f.kqc";
    char* argv[] = {prog, silent, script, nullptr};
    fuzz_reset_line_count();
    try {
        kqc_main(3, argv);
    } catch (const FatalExit&) {
    }
    fuzz::clean_scratch();
    return 0;
}
