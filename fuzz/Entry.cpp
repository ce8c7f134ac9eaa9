// The entry of every fuzz target, for the fuzzer and for the replay.
#include "fuzz/Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::init();
    try {
        fuzz::input(fuzz::bytes(data, size));
    } catch (const fuzz::Known &) {
    }
    return 0;
}
