// The .reg parser on arbitrary text. What it reads it must write back so that it reads the same.
#include "formats/reg/reg_file.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    RegFile file;
    if (!file.parse(std::string(reinterpret_cast<const char*>(data), size)))
        return 0;
    std::string text = file.serialize();
    RegFile again;
    if (!again.parse(text) || again.serialize() != text)
        std::abort();
    return 0;
}
