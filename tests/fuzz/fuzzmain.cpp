// The libFuzzer entry points shared by every fuzz target. Each target links this file with
// VORLANE_FUZZ_CHECK naming its check from fuzzinputs.h; the replay test calls the checks itself.
#include "fuzzinputs.h"

#include <cstdio>
#include <cstdlib>

#ifndef VORLANE_FUZZ_CHECK
#error "VORLANE_FUZZ_CHECK must name the check this fuzz target runs"
#endif

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    VorlaneFuzz::silenceMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString failure = VorlaneFuzz::VORLANE_FUZZ_CHECK(data, size);
    if (!failure.isEmpty()) {
        fprintf(stderr, "broken rule: %s\n", qPrintable(failure));
        abort();
    }
    return 0;
}
