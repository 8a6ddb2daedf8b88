// A registry hive as the Windows registry editor exports it (.reg text).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The first line of the text: the registry editor's (UTF-16), and REGEDIT4's (ANSI).
constexpr char kRegFileHeader5[] = "Windows Registry Editor Version 5.00";
constexpr char kRegFileHeader4[] = "REGEDIT4";

// The types with text forms of their own ("text", dword:, hex:); hex(N): gives any type by its
// number.
enum RegFileType : uint32_t { kRegFileString = 1, kRegFileBinary = 3, kRegFileDword = 4 };

struct RegFileValue {
    std::string name; // UTF-8; empty for the default value (@)
    uint32_t type = 0;
    std::vector<uint8_t> data;
    int removed = 0; // deleted by a later line of the file being parsed
};

struct RegFileKey {
    std::string path; // UTF-8, full path from the hive: HKEY_LOCAL_MACHINE\System\...
    std::vector<RegFileValue> values;
    int removed = 0;
};

// Keys keep the order of the file; an index on the case-folded paths and value names keeps
// parsing and look-ups near-linear in the size of the hive.
class RegFile {
  public:
    // Strict: a missing header or any line that cannot be read fails the whole text.
    // Takes UTF-16LE with BOM, UTF-8 (with or without BOM; it must be valid), and REGEDIT4
    // files in the ANSI code page (Windows-1252).
    int parse(const std::string& bytes);
    std::string serialize() const;

    // A key exists when its section, or a section below it, is present.
    int keyExists(const std::string& path) const;
    RegFileKey* findKey(const std::string& path);
    RegFileKey& addKey(const std::string& path);
    void deleteKey(const std::string& path);
    const RegFileValue* findValue(const std::string& path, const std::string& name) const;
    void setValue(const std::string& path, const RegFileValue& value);
    int deleteValue(const std::string& path, const std::string& name);

    const std::vector<RegFileKey>& keys() const { return keys_; }

  private:
    int parseLine(std::string_view line, size_t& current, int& skipping);
    void putValue(size_t keyIndex, RegFileValue&& value);
    size_t valuePosition(size_t keyIndex, const std::string& name) const;
    void indexValues(size_t keyIndex);
    // Drops what deletions marked and builds the indexes again.
    void compact();

    std::vector<RegFileKey> keys_;
    std::map<std::string, size_t> keyIndex_; // folded path -> keys_
    // For keys with many values: folded name -> position in the key's values.
    std::unordered_map<size_t, std::unordered_map<std::string, size_t>> valueIndex_;
    int removed_ = 0; // marks for compact to drop
};

// Paths and value names match without regard to the case of ASCII letters.
inline char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
int equalsIgnoringCase(const std::string& a, const std::string& b);
// Whether path names the key prefix or a key below it.
int isAtOrBelow(const std::string& path, const std::string& prefix);
