// Any bytes as one bus line, in three text views, through SMsg::Parse.
// The invariants are in FuzzChecks.cpp, shared with tests/fuzzregressions.
#include "FuzzChecks.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The checks only read their input: libFuzzer's bytes are used in place.
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    fuzzchecks::abortOn(fuzzchecks::checkParse(input));
    return 0;
}
