#include "formats/reg/reg_file.h"
#include "support/support.h"

namespace {

const char kHead[] = "Windows Registry Editor Version 5.00\n\n";

std::vector<uint8_t> bytesOf(const RegFile& file, const std::string& key, const std::string& name) {
    const RegFileValue* v = file.findValue(key, name);
    return v ? v->data : std::vector<uint8_t>{0xdd};
}

std::string utf16le(const std::string& utf8Text) {
    std::string out = "\xFF\xFE";
    for (WCHAR u : utf8ToUtf16(utf8Text)) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(static_cast<char16_t>(u) >> 8);
    }
    return out;
}

TEST(RegFileParse, ReadsEveryValueForm) {
    RegFile file;
    ASSERT_TRUE(file.parse(std::string(kHead) + "; a comment\n"
                                                "[HKEY_LOCAL_MACHINE\\A\\B]\n"
                                                "\"dw\"=dword:0000001F\n"
                                                "\"s\"=\"C:\\\\x \\\"q\\\"\"\n"
                                                "@=\"default\"\n"
                                                "\"bin\"=hex:01,ff,\\\n"
                                                "  10\n"
                                                "\"odd\"=hex(4):01,00\n"
                                                "\"multi\"=hex(7):41,00,00,00,00,00\n"));
    const std::string key = "hkey_local_machine\\a\\b";
    EXPECT_EQ(bytesOf(file, key, "DW"), (std::vector<uint8_t>{0x1f, 0, 0, 0}));
    EXPECT_EQ(bytesOf(file, key, "s"), (std::vector<uint8_t>{'C', 0, ':', 0, '\\', 0, 'x', 0, ' ',
                                                             0, '"', 0, 'q', 0, '"', 0, 0, 0}));
    EXPECT_EQ(bytesOf(file, key, "").size(), 16u);
    EXPECT_EQ(bytesOf(file, key, "bin"), (std::vector<uint8_t>{1, 0xff, 0x10}));
    EXPECT_EQ(file.findValue(key, "odd")->type, REG_DWORD);
    EXPECT_EQ(file.findValue(key, "multi")->type, REG_MULTI_SZ);
    EXPECT_TRUE(file.keyExists("HKEY_LOCAL_MACHINE\\A"));
    EXPECT_FALSE(file.keyExists("HKEY_LOCAL_MACHINE\\A\\B\\C"));
    EXPECT_FALSE(file.keyExists("HKEY_LOCAL_MACHINE\\A\\Bx"));
}

TEST(RegFileParse, RoundTripsWhatItWrites) {
    RegFile file;
    file.setValue("HKEY_LOCAL_MACHINE\\K", {"dw", REG_DWORD, {1, 2, 3, 4}});
    file.setValue("HKEY_LOCAL_MACHINE\\K", {"short", REG_DWORD, {1, 2}});
    file.setValue("HKEY_LOCAL_MACHINE\\K", {"sz", REG_SZ, {'a', 0, 0xe9, 0, 0, 0}});
    file.setValue("HKEY_LOCAL_MACHINE\\K", {"unterminated", REG_SZ, {'a', 0}});
    file.setValue("HKEY_LOCAL_MACHINE\\K", {"emb\"ed", REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0}});
    file.setValue("HKEY_LOCAL_MACHINE\\K\\Sub", {"", REG_BINARY, {}});
    std::string text = file.serialize();
    EXPECT_NE(text.find("\"dw\"=dword:04030201\n"), std::string::npos);
    EXPECT_NE(text.find("\"short\"=hex(4):01,02\n"), std::string::npos);
    EXPECT_NE(text.find("\"sz\"=\"a\xC3\xA9\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"unterminated\"=hex(1):61,00\n"), std::string::npos);
    RegFile again;
    ASSERT_TRUE(again.parse(text));
    EXPECT_EQ(again.serialize(), text);
    EXPECT_EQ(bytesOf(again, "HKEY_LOCAL_MACHINE\\K", "emb\"ed").size(), 8u);
}

TEST(RegFileParse, ReadsRegistryEditorExports) {
    RegFile utf16;
    ASSERT_TRUE(utf16.parse(utf16le(std::string(kHead) + "[HKEY_LOCAL_MACHINE\\K]\r\n"
                                                         "\"v\"=\"\xC3\xA9t\xC3\xA9\"\r\n")));
    EXPECT_EQ(bytesOf(utf16, "HKEY_LOCAL_MACHINE\\K", "v"),
              (std::vector<uint8_t>{0xe9, 0, 't', 0, 0xe9, 0, 0, 0}));
    RegFile ansi; // REGEDIT4 in the ANSI code page: Latin-1 é is the byte E9
    ASSERT_TRUE(ansi.parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"\xE9\"\r\n"));
    EXPECT_EQ(bytesOf(ansi, "HKEY_LOCAL_MACHINE\\K", "v"), (std::vector<uint8_t>{0xe9, 0, 0, 0}));
    RegFile bom;
    ASSERT_TRUE(bom.parse("\xEF\xBB\xBF" + std::string(kHead)));
}

// What the text means, byte for byte: the encoding each header implies, and where a line ends.
TEST(RegFileParse, ReadsTheTextAsTheRegistryEditorWroteIt) {
    const std::string section = "[HKEY_LOCAL_MACHINE\\K]\n";
    const struct {
        const char* what;
        std::string text;
        int parses;
        std::vector<std::string> keys;
    } rows[] = {
        {"REGEDIT4 is Windows-1252",
         "REGEDIT4\n" + section + "\"v\"=\"M\xFCller \x80\"\n",
         1,
         {"HKEY_LOCAL_MACHINE\\K"}},
        {"version 5 must be UTF-8, comments too",
         std::string(kHead) + "; M\xFCller\n" + section + "\"v\"=\"x\"\n",
         0,
         {}},
        {"a comment ending in a backslash is whole",
         std::string(kHead) + "; old path was C:\\temp\\\n[HKEY_LOCAL_MACHINE\\A]\n" + section,
         1,
         {"HKEY_LOCAL_MACHINE\\A", "HKEY_LOCAL_MACHINE\\K"}},
        {"so is a string ending in one",
         std::string(kHead) + section + "\"v\"=\"C:\\\\\"\n[HKEY_LOCAL_MACHINE\\B]\n",
         1,
         {"HKEY_LOCAL_MACHINE\\K", "HKEY_LOCAL_MACHINE\\B"}},
        {"hex data goes on",
         std::string(kHead) + section + "@=hex(2):41,\\\n  00,00,00\n",
         1,
         {"HKEY_LOCAL_MACHINE\\K"}},
    };
    for (const auto& row : rows) {
        RegFile file;
        EXPECT_EQ(file.parse(row.text), row.parses) << row.what;
        std::vector<std::string> keys;
        for (const RegFileKey& key : file.keys())
            keys.push_back(key.path);
        EXPECT_EQ(keys, row.keys) << row.what;
    }
    RegFile ansi;
    ASSERT_TRUE(ansi.parse(rows[0].text));
    EXPECT_EQ(bytesOf(ansi, "HKEY_LOCAL_MACHINE\\K", "v"),
              (std::vector<uint8_t>{'M', 0, 0xfc, 0, 'l', 0, 'l', 0, 'e', 0, 'r', 0, ' ', 0, 0xac,
                                    0x20, 0, 0}));
    // Written back as UTF-8: once, not twice.
    EXPECT_NE(ansi.serialize().find("\"v\"=\"M\xC3\xBCller \xE2\x82\xAC\""), std::string::npos);
}

TEST(RegFileParse, AppliesDeletions) {
    RegFile file;
    ASSERT_TRUE(file.parse(std::string(kHead) +
                           "[HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=dword:1\n"
                           "\"y\"=dword:2\n[HKEY_LOCAL_MACHINE\\A\\C]\n"
                           "[HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=-\n"
                           "[-HKEY_LOCAL_MACHINE\\A\\C]\n\"ignored\"=dword:3\n"));
    EXPECT_EQ(file.findValue("HKEY_LOCAL_MACHINE\\A\\B", "x"), nullptr);
    EXPECT_NE(file.findValue("HKEY_LOCAL_MACHINE\\A\\B", "y"), nullptr);
    EXPECT_FALSE(file.keyExists("HKEY_LOCAL_MACHINE\\A\\C"));
}

// Keys with few values and with many (those get an index): the same rules.
TEST(RegFileParse, ValuesMatchWithoutRegardToCaseInKeysOfAnySize) {
    for (int count : {3, 40}) {
        std::string text = std::string(kHead) + "[HKEY_LOCAL_MACHINE\\K]\n";
        for (int i = 0; i < count; ++i)
            text += "\"v" + std::to_string(i) + "\"=dword:1\n";
        text += "\"V1\"=dword:2\n\"v2\"=-\n[-HKEY_LOCAL_MACHINE\\K\\Sub]\n"
                "[hkey_local_machine\\k]\n\"v2\"=dword:3\n\"v0\"=-\n";
        RegFile file;
        ASSERT_TRUE(file.parse(text)) << count;
        EXPECT_EQ(bytesOf(file, "HKEY_LOCAL_MACHINE\\K", "v1"), dwordBytes(2)) << count;
        EXPECT_EQ(bytesOf(file, "HKEY_LOCAL_MACHINE\\K", "V2"), dwordBytes(3)) << count;
        EXPECT_EQ(file.findValue("HKEY_LOCAL_MACHINE\\K", "v0"), nullptr) << count;
        ASSERT_EQ(file.keys().size(), 1u);
        EXPECT_EQ(file.keys()[0].values.size(), static_cast<size_t>(count - 1)) << count;
        file.setValue("HKEY_LOCAL_MACHINE\\K", {"V0", REG_DWORD, dwordBytes(4)});
        EXPECT_EQ(bytesOf(file, "HKEY_LOCAL_MACHINE\\K", "v0"), dwordBytes(4)) << count;
    }
}

TEST(RegFileParse, RejectsAnythingItCannotRead) {
    const std::string section = "[HKEY_LOCAL_MACHINE\\K]\n";
    for (const std::string& bad : {
             std::string("Windows Registry Editor Version 4.00\n"),
             std::string(""),
             section,
             std::string(kHead) + "[HKEY_LOCAL_MACHINE\\K\n",
             std::string(kHead) + "[\\]\n", // found by fuzzing: no key name at all
             std::string(kHead) + "[-\\\\]\n",
             std::string(kHead) + "\"v\"=dword:1\n",
             std::string(kHead) + section + "\"v\"=dword:xyz\n",
             std::string(kHead) + section + "\"v\"=dword:123456789\n",
             std::string(kHead) + section + "\"v\"=dword:\n",
             std::string(kHead) + section + "\"v\"=hex:1g\n",
             std::string(kHead) + section + "\"v\"=hex:01,\n",
             std::string(kHead) + section + "\"v\"=hex():01\n",
             std::string(kHead) + section + "\"v\"=\"open\n",
             std::string(kHead) + section + "\"v\"=\"a\"b\n",
             std::string(kHead) + section + "\"v\"\n",
             std::string(kHead) + section + "v=dword:1\n",
             std::string("\xFF\xFE\x41"),
         }) {
        RegFile file;
        EXPECT_FALSE(file.parse(bad)) << bad;
        EXPECT_TRUE(file.keys().empty());
    }
}

} // namespace
