#include "reg_file.h"

#include "formats/utf16.h"

#include <cstring>

namespace {

constexpr size_t kNoKey = static_cast<size_t>(-1);

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
    if (!bom && startsWith(bytes, kRegFileHeader4)) {
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
    if (!nextLine(line) || (line != kRegFileHeader5 && line != kRegFileHeader4))
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
