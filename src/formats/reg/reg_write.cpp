#include "reg_file.h"

#include "formats/utf16.h"

#include <cstdio>

namespace {

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A string is written as "text" only when its bytes are exactly a string and its terminator.
int fitsStringForm(const RegFileValue& v) {
    if (v.type != kRegFileString || v.data.size() < 2 || v.data.size() % 2 != 0)
        return 0;
    size_t units = v.data.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        int zero = v.data[2 * i] == 0 && v.data[2 * i + 1] == 0;
        if (zero != (i + 1 == units))
            return 0;
    }
    return 1;
}

std::string formatValue(const RegFileValue& v) {
    std::string line = v.name.empty() ? "@=" : quote(v.name) + "=";
    char buf[32];
    if (fitsStringForm(v)) {
        std::u16string units;
        for (size_t i = 0; i + 2 < v.data.size(); i += 2)
            units += static_cast<char16_t>(v.data[i] | v.data[i + 1] << 8);
        return line + quote(fromU16(units));
    }
    if (v.type == kRegFileDword && v.data.size() == 4) {
        uint32_t n = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | uint32_t(v.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", n);
        return line + buf;
    }
    if (v.type == kRegFileBinary) {
        line += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        line += buf;
    }
    for (size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
        line += buf;
    }
    return line;
}

} // namespace

std::string RegFile::serialize() const {
    std::string out = std::string(kRegFileHeader5) + "\n\n";
    for (const RegFileKey& key : keys_) {
        out += "[" + key.path + "]\n";
        for (const RegFileValue& value : key.values)
            out += formatValue(value) + "\n";
        out += "\n";
    }
    return out;
}
