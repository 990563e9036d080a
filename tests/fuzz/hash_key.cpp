// The hash key text. The input is the file's body. Beyond surviving any input: the two
// values, written again as decimal text, read back the same, also with anything behind
// them; and the frame value depends on nothing behind the first space.
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "fuzz_check.h"
#include "update/hash_key.h"

namespace {

bool Parse(const std::string& text, int64_t* frame, int64_t* dictionary) {
    return ParseHashKey(reinterpret_cast<const uint8_t*>(text.data()), text.size(), frame, dictionary);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int64_t frame = 0;
    int64_t dictionary = 0;
    if (!ParseHashKey(data, size, &frame, &dictionary)) return 0;

    char written[48];
    snprintf(written, sizeof written, "%" PRId64 "   %" PRIu64, frame, static_cast<uint64_t>(dictionary));
    int64_t frameBack = 0;
    int64_t dictionaryBack = 0;
    Check(Parse(written, &frameBack, &dictionaryBack) && frameBack == frame && dictionaryBack == dictionary);
    Check(Parse(std::string(written) + "\r\nx 1", &frameBack, &dictionaryBack));
    Check(frameBack == frame && dictionaryBack == dictionary);

    const size_t space = static_cast<size_t>(static_cast<const uint8_t*>(memchr(data, ' ', size)) - data);
    Check(Parse(std::string(reinterpret_cast<const char*>(data), space) + " 0", &frameBack, &dictionaryBack));
    Check(frameBack == frame && dictionaryBack == 0);
    return 0;
}
