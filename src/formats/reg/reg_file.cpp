#include "reg_file.h"

#include "formats/utf16.h"

#include <cstdio>
#include <cstring>

namespace {

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";
constexpr size_t kNoKey = static_cast<size_t>(-1);
constexpr size_t kNoValue = static_cast<size_t>(-1);

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string folded(std::string text) {
    for (char& c : text)
        c = foldAscii(c);
    return text;
}

int validUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) { // most of a hive is ASCII
            ++i;
            continue;
        }
        size_t start = i;
        if (nextCodePoint(text, i) == 0xFFFD && text.compare(start, 3, "\xEF\xBF\xBD") != 0)
            return 0;
    }
    return 1;
}

// Windows-1252, the ANSI code page a REGEDIT4 export of a Western system is written in. Its
// five unassigned bytes map to the C1 code points, as Windows maps them.
char16_t fromWindows1252(unsigned char b) {
    static const char16_t k80[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? k80[b - 0x80] : b;
}

int startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Turns the file's bytes into UTF-8 text, whatever encoding the registry editor used: UTF-16LE
// after its BOM; REGEDIT4 in the ANSI code page; otherwise UTF-8, which must be valid: a file
// read in the wrong encoding would be written back with every other value changed.
int decodeText(const std::string& bytes, std::string& text) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0)
            return 0;
        std::u16string units;
        for (size_t i = 2; i < bytes.size(); i += 2)
            units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           static_cast<unsigned char>(bytes[i + 1]) << 8);
        text = fromU16(units);
        return 1;
    }
    int bom = startsWith(bytes, "\xEF\xBB\xBF");
    if (!bom && startsWith(bytes, kHeader4)) {
        std::u16string units;
        for (char c : bytes)
            units += fromWindows1252(static_cast<unsigned char>(c));
        text = fromU16(units);
        return 1;
    }
    text = bom ? bytes.substr(3) : bytes;
    return validUtf8(text);
}

std::string_view trimRight(std::string_view s) {
    size_t end = s.find_last_not_of(" \t\r");
    return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

std::string_view trimLeft(std::string_view s) {
    size_t start = s.find_first_not_of(" \t");
    return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

// Reads a quoted string with \\ and \" escapes starting at s[pos] == '"'; pos ends past it.
int readQuoted(std::string_view s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"')
        return 0;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return 1;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"'))
            c = s[++pos];
        out += c;
    }
    return 0;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = foldAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

int readHexBytes(std::string_view s, std::vector<uint8_t>& out) {
    out.clear();
    std::string_view rest = trimRight(s);
    if (rest.empty())
        return 1;
    size_t pos = 0;
    for (;;) {
        pos = rest.find_first_not_of(" \t", pos);
        if (pos == std::string::npos)
            return 0;
        int high = hexDigit(rest[pos]);
        if (high < 0)
            return 0;
        int value = high;
        if (++pos < rest.size() && hexDigit(rest[pos]) >= 0)
            value = value * 16 + hexDigit(rest[pos++]);
        out.push_back(static_cast<uint8_t>(value));
        pos = rest.find_first_not_of(" \t", pos);
        if (pos == std::string::npos)
            return 1;
        if (rest[pos++] != ',')
            return 0;
    }
}

int readData(std::string_view s, RegFileValue& value, int& remove) {
    remove = 0;
    std::string_view data = trimRight(s);
    if (data == "-") {
        remove = 1;
        return 1;
    }
    if (!data.empty() && data[0] == '"') {
        size_t pos = 0;
        std::string text;
        if (!readQuoted(data, pos, text) || pos != data.size())
            return 0;
        std::u16string units = toU16(text);
        value.type = kRegFileString;
        value.data.clear();
        for (char16_t u : units) {
            value.data.push_back(static_cast<uint8_t>(u & 0xFF));
            value.data.push_back(static_cast<uint8_t>(u >> 8));
        }
        value.data.push_back(0);
        value.data.push_back(0);
        return 1;
    }
    if (data.compare(0, 6, "dword:") == 0) {
        std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            return 0;
        uint32_t n = 0;
        for (char c : digits) {
            if (hexDigit(c) < 0)
                return 0;
            n = n * 16 + static_cast<uint32_t>(hexDigit(c));
        }
        value.type = kRegFileDword;
        value.data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                      static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
        return 1;
    }
    if (data.compare(0, 4, "hex:") == 0) {
        value.type = kRegFileBinary;
        return readHexBytes(data.substr(4), value.data);
    }
    if (data.compare(0, 4, "hex(") == 0) {
        size_t close = data.find("):", 4);
        if (close == std::string::npos || close == 4 || close > 12)
            return 0;
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            if (hexDigit(data[i]) < 0)
                return 0;
            type = type * 16 + static_cast<uint32_t>(hexDigit(data[i]));
        }
        value.type = type;
        return readHexBytes(data.substr(close + 2), value.data);
    }
    return 0;
}

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

// A value line whose hex data goes on in the next line, as the registry editor wraps long
// values ("name"=hex:01,02,\). No other line continues: a comment or a string ending in a
// backslash is whole.
int continuesHexData(std::string_view line) {
    if (line.empty() || line.back() != '\\')
        return 0;
    std::string_view text = trimLeft(line);
    std::string name;
    size_t pos = 0;
    if (!text.empty() && text[0] == '@')
        pos = 1;
    else if (!readQuoted(text, pos, name))
        return 0;
    if (pos >= text.size() || text[pos] != '=')
        return 0;
    std::string_view data = text.substr(pos + 1);
    return startsWith(data, "hex:") || startsWith(data, "hex(");
}

} // namespace

int equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return 0;
    return 1;
}

int isAtOrBelow(const std::string& path, const std::string& prefix) {
    if (path.size() == prefix.size())
        return equalsIgnoringCase(path, prefix);
    return path.size() > prefix.size() && path[prefix.size()] == '\\' &&
           equalsIgnoringCase(path.substr(0, prefix.size()), prefix);
}

int RegFile::parse(const std::string& bytes) {
    *this = RegFile();
    std::string text;
    if (!decodeText(bytes, text))
        return 0;
    std::string_view rest = text;
    // The next line without its line end and trailing blanks; none after the last.
    auto nextLine = [&rest](std::string_view& line) {
        if (rest.data() == nullptr)
            return 0;
        size_t end = rest.find('\n');
        line = trimRight(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        return 1;
    };
    std::string_view line;
    if (!nextLine(line) || (line != kHeader5 && line != kHeader4))
        return 0;
    size_t current = kNoKey;
    int skipping = 0;
    std::string joined;
    while (nextLine(line)) {
        if (continuesHexData(line)) {
            joined.assign(line.substr(0, line.size() - 1));
            std::string_view more;
            while (nextLine(more)) {
                joined += trimLeft(more);
                if (more.empty() || more.back() != '\\')
                    break;
                joined.pop_back();
            }
            line = joined;
        }
        if (!parseLine(line, current, skipping)) {
            *this = RegFile();
            return 0;
        }
    }
    if (removed_)
        compact();
    return 1;
}

int RegFile::parseLine(std::string_view raw, size_t& current, int& skipping) {
    std::string_view line = trimLeft(raw);
    if (line.empty() || line[0] == ';')
        return 1;
    if (line[0] == '[') {
        if (line.back() != ']' || line.size() < 3)
            return 0;
        std::string_view path = line.substr(1, line.size() - 2);
        skipping = path[0] == '-';
        if (skipping)
            path.remove_prefix(1);
        while (!path.empty() && path.back() == '\\')
            path.remove_suffix(1);
        if (path.empty()) // a section of backslashes alone names no key
            return 0;
        current = kNoKey;
        if (skipping)
            deleteKey(std::string(path));
        else
            current = static_cast<size_t>(&addKey(std::string(path)) - keys_.data());
        return 1;
    }
    if (line[0] != '"' && line[0] != '@')
        return 0;
    RegFileValue value;
    size_t pos = 0;
    if (line[0] == '@')
        pos = 1;
    else if (!readQuoted(line, pos, value.name))
        return 0;
    if (pos >= line.size() || line[pos] != '=')
        return 0;
    int remove = 0;
    if (!readData(line.substr(pos + 1), value, remove) || (current == kNoKey && !skipping))
        return 0;
    if (skipping)
        return 1; // values of a deleted key are dropped with it
    if (remove)
        deleteValue(keys_[current].path, value.name);
    else
        putValue(current, std::move(value));
    return 1;
}

std::string RegFile::serialize() const {
    std::string out = std::string(kHeader5) + "\n\n";
    for (const RegFileKey& key : keys_) {
        out += "[" + key.path + "]\n";
        for (const RegFileValue& value : key.values)
            out += formatValue(value) + "\n";
        out += "\n";
    }
    return out;
}

int RegFile::keyExists(const std::string& path) const {
    std::string key = folded(path);
    if (keyIndex_.count(key))
        return 1;
    auto below = keyIndex_.lower_bound(key + '\\');
    return below != keyIndex_.end() && below->first.compare(0, key.size() + 1, key + '\\') == 0;
}

RegFileKey* RegFile::findKey(const std::string& path) {
    auto found = keyIndex_.find(folded(path));
    return found == keyIndex_.end() ? nullptr : &keys_[found->second];
}

RegFileKey& RegFile::addKey(const std::string& path) {
    if (RegFileKey* key = findKey(path))
        return *key;
    keyIndex_.emplace(folded(path), keys_.size());
    keys_.push_back(RegFileKey{path, {}, 0});
    return keys_.back();
}

// The key and every key below it: one range of the index, since '\\' + 1 is ']'.
void RegFile::deleteKey(const std::string& path) {
    std::string key = folded(path);
    auto first = keyIndex_.lower_bound(key + '\\'), last = keyIndex_.lower_bound(key + ']');
    auto self = keyIndex_.find(key);
    if (self != keyIndex_.end()) {
        keys_[self->second].removed = 1;
        keyIndex_.erase(self);
        removed_ = 1;
    }
    for (auto it = first; it != last; ++it)
        keys_[it->second].removed = removed_ = 1;
    keyIndex_.erase(first, last);
}

// Most keys hold a few values, looked up by a scan; a key with more gets an index of its own.
constexpr size_t kScannedValues = 8;

size_t RegFile::valuePosition(size_t keyIndex, const std::string& name) const {
    const std::vector<RegFileValue>& values = keys_[keyIndex].values;
    auto index = valueIndex_.find(keyIndex);
    if (index == valueIndex_.end()) {
        for (size_t i = 0; i < values.size(); ++i)
            if (!values[i].removed && equalsIgnoringCase(values[i].name, name))
                return i;
        return kNoValue;
    }
    auto found = index->second.find(folded(name));
    return found == index->second.end() ? kNoValue : found->second;
}

void RegFile::indexValues(size_t keyIndex) {
    const std::vector<RegFileValue>& values = keys_[keyIndex].values;
    std::unordered_map<std::string, size_t>& index = valueIndex_[keyIndex];
    index.clear();
    for (size_t i = 0; i < values.size(); ++i)
        if (!values[i].removed)
            index.emplace(folded(values[i].name), i);
}

const RegFileValue* RegFile::findValue(const std::string& path, const std::string& name) const {
    auto key = keyIndex_.find(folded(path));
    if (key == keyIndex_.end())
        return nullptr;
    size_t position = valuePosition(key->second, name);
    return position == kNoValue ? nullptr : &keys_[key->second].values[position];
}

void RegFile::setValue(const std::string& path, const RegFileValue& value) {
    RegFileKey& key = addKey(path);
    putValue(static_cast<size_t>(&key - keys_.data()), RegFileValue(value));
}

void RegFile::putValue(size_t keyIndex, RegFileValue&& value) {
    std::vector<RegFileValue>& values = keys_[keyIndex].values;
    size_t position = valuePosition(keyIndex, value.name);
    if (position != kNoValue) {
        values[position].type = value.type;
        values[position].data = std::move(value.data);
        return;
    }
    value.removed = 0;
    values.push_back(std::move(value));
    auto index = valueIndex_.find(keyIndex);
    if (index != valueIndex_.end())
        index->second.emplace(folded(values.back().name), values.size() - 1);
    else if (values.size() > kScannedValues)
        indexValues(keyIndex);
}

int RegFile::deleteValue(const std::string& path, const std::string& name) {
    RegFileKey* key = findKey(path);
    if (!key)
        return 0;
    size_t keyIndex = static_cast<size_t>(key - keys_.data());
    size_t position = valuePosition(keyIndex, name);
    if (position == kNoValue)
        return 0;
    key->values[position].removed = removed_ = 1;
    auto index = valueIndex_.find(keyIndex);
    if (index != valueIndex_.end())
        index->second.erase(folded(name));
    return 1;
}

void RegFile::compact() {
    removed_ = 0;
    std::vector<RegFileKey> kept;
    kept.reserve(keys_.size());
    for (RegFileKey& key : keys_) {
        if (key.removed)
            continue;
        std::vector<RegFileValue> values;
        values.reserve(key.values.size());
        for (RegFileValue& value : key.values)
            if (!value.removed)
                values.push_back(std::move(value));
        key.values.swap(values);
        kept.push_back(std::move(key));
    }
    keys_.swap(kept);
    keyIndex_.clear();
    valueIndex_.clear();
    for (size_t k = 0; k < keys_.size(); ++k) {
        keyIndex_.emplace(folded(keys_[k].path), k);
        if (keys_[k].values.size() > kScannedValues)
            indexValues(k);
    }
}
