// A registry hive as the Windows registry editor exports it (.reg text).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RegFileValue {
    std::string name; // UTF-8; empty for the default value (@)
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct RegFileKey {
    std::string path; // UTF-8, full path from the hive: HKEY_LOCAL_MACHINE\System\...
    std::vector<RegFileValue> values;
};

class RegFile {
  public:
    // Strict: a missing header or any line that cannot be read fails the whole text.
    // Takes UTF-8 (with or without BOM), UTF-16LE with BOM, and REGEDIT4 ANSI text.
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
    int parseLine(const std::string& line, RegFileKey*& current, int& skipping);
    std::vector<RegFileKey> keys_;
};

int equalsIgnoringCase(const std::string& a, const std::string& b);
// Whether path names the key prefix or a key below it.
int isAtOrBelow(const std::string& path, const std::string& prefix);
