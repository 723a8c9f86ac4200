// The store file's format and the key tree: what is written, what is read back, what is refused.
#include "platform/posix/file_registry.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

namespace tarnwick::platform {
namespace {

using store_testing::ScratchDir;
using store_testing::slurp;
using store_testing::spit;

std::string allBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
}

TEST(RegTree, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
    RegTree t;
    ASSERT_TRUE(t.createKey("Software\\Tarnwick\\TfrmConfig"));
    ASSERT_TRUE(t.createKey("SOFTWARE\\tarnwick\\Extra"));
    EXPECT_EQ(t.subKeyNames("software\\TARNWICK"),
              (std::vector<std::string>{"Extra", "TfrmConfig"}));
    EXPECT_EQ(t.findKey("software\\tarnwick\\extra")->path(), "Software\\Tarnwick\\Extra");
    ASSERT_TRUE(t.setValue("software\\tarnwick", "Count", RegValue::string("1")));
    ASSERT_TRUE(t.setValue("SOFTWARE\\TARNWICK", "COUNT", RegValue::string("2")));
    EXPECT_EQ(t.valueNames("Software\\Tarnwick"), std::vector<std::string>{"Count"});
    EXPECT_EQ(t.value("Software\\Tarnwick", "count")->text(), "2");
    // Empty path components are ignored; the root is "" and "\".
    EXPECT_TRUE(t.keyExists("\\Software\\\\Tarnwick\\"));
    EXPECT_EQ(t.subKeyNames("\\"), std::vector<std::string>{"Software"});
}

TEST(RegTree, DeletingAKeyTakesItsSubKeysButNotSiblingsSharingItsNamePrefix) {
    RegTree t;
    t.createKey("S\\TfrmConfig\\Deep\\Deeper");
    t.createKey("S\\TfrmConfig.ListBox1_Items");
    t.createKey("S\\TfrmConfigX");
    EXPECT_TRUE(t.deleteKey("s\\tfrmconfig"));
    EXPECT_FALSE(t.keyExists("S\\TfrmConfig"));
    EXPECT_FALSE(t.keyExists("S\\TfrmConfig\\Deep\\Deeper"));
    EXPECT_TRUE(t.keyExists("S\\TfrmConfig.ListBox1_Items"));
    EXPECT_TRUE(t.keyExists("S\\TfrmConfigX"));
    EXPECT_FALSE(t.deleteKey("S\\TfrmConfig"));
    EXPECT_FALSE(t.deleteKey("")); // the root stays
}

TEST(RegistryText, WritesRegeditFormWithEscapes) {
    RegTree t;
    t.createKey("Software\\Tarnwick\\TfrmConfig");
    const std::string k = "Software\\Tarnwick\\TfrmConfig";
    t.setValue(k, "fEdit_Value", RegValue::string("0.96"));
    t.setValue(k, "path", RegValue::string("C:\\a \"b\""));
    t.setValue(k, "n", RegValue::dword(42));
    t.setValue(k, "b", RegValue{REG_BINARY, std::string("\x01\xff", 2)});
    t.setValue(k, "e", RegValue::string("%", REG_EXPAND_SZ));
    t.setValue(k, "", RegValue::string("default"));
    EXPECT_EQ(formatRegistryText(t), "REGEDIT4\r\n"
                                     "\r\n[HKEY_CURRENT_USER\\Software]\r\n"
                                     "\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick]\r\n"
                                     "\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"
                                     "\"fEdit_Value\"=\"0.96\"\r\n"
                                     "\"path\"=\"C:\\\\a \\\"b\\\"\"\r\n"
                                     "\"n\"=dword:0000002a\r\n"
                                     "\"b\"=hex:01,ff\r\n"
                                     "\"e\"=hex(2):25,00\r\n"
                                     "@=\"default\"\r\n");
    // A store written so reads back and is written again byte for byte.
    const std::string text = formatRegistryText(t);
    EXPECT_EQ(formatRegistryText(parseRegistryText(text, "f")), text);
}

TEST(RegistryText, EveryByteSequenceSurvivesAndStaysOneValuePerLine) {
    const std::string bytes = allBytes();
    const std::vector<RegValue> values{
        RegValue::string(bytes.substr(1)),           // every byte but zero: quoted text
        RegValue::string(bytes),                     // with a zero byte inside
        RegValue::string("line\r\nbreak"),           // line breaks
        RegValue{REG_SZ, "no terminator"},           // as some foreign writer stores it
        RegValue::string(bytes, REG_EXPAND_SZ),      // another string type
        RegValue{REG_BINARY, bytes + bytes + bytes}, // long enough to go over several lines
        RegValue{REG_BINARY, ""},
        RegValue{0x20000, "odd"}, // a type no one here knows
    };
    RegTree t;
    t.createKey("K\\" + bytes.substr(0x20, 200));
    const std::string key = "K\\" + bytes.substr(0x20, 200);
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_TRUE(t.setValue(key, "v" + std::to_string(i) + "\"\\\x80\xff", values[i]));

    const std::string text = formatRegistryText(t);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        ASSERT_EQ(text[at - 1], '\r') << "a line break inside a value at " << at;

    RegTree back = parseRegistryText(text, "f");
    for (size_t i = 0; i < values.size(); ++i) {
        const RegValue* v = back.value(key, "v" + std::to_string(i) + "\"\\\x80\xff");
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(*v, values[i]) << i;
    }
}

TEST(RegistryText, ReadsWhatRegeditAndHandsWrite) {
    const std::string text = "\xEF\xBB\xBFREGEDIT4\n"
                             "; written by hand\n"
                             "\n"
                             "[hkey_current_user\\Software\\Tarnwick]\n"
                             "\"a\" = \"x\"   \n"
                             "\"bin\"=hex:01,02,\\\n"
                             "  0A,ff\n"
                             "\"dw\"=DWORD:1F\n"
                             "[HKEY_CURRENT_USER\\SOFTWARE\\TARNWICK]\n"
                             "\"b\"=\"y\"\n"
                             "\"c\"=\"C:\\Pictures\"\n";
    RegTree t = parseRegistryText(text, "f");
    EXPECT_EQ(t.value("Software\\Tarnwick", "a")->text(), "x");
    EXPECT_EQ(t.value("Software\\Tarnwick", "b")->text(), "y"); // both sections are one key
    EXPECT_EQ(t.value("Software\\Tarnwick", "bin")->data, std::string("\x01\x02\x0a\xff", 4));
    EXPECT_EQ(*t.value("Software\\Tarnwick", "dw"), RegValue::dword(0x1f));
    EXPECT_EQ(t.value("Software\\Tarnwick", "c")->text(), "C:\\Pictures"); // lone \ kept
    EXPECT_EQ(t.findKey("Software")->path(), "Software");
}

TEST(RegistryText, EmptyTextIsAnEmptyStore) {
    for (const char* text : {"", "\r\n", "  \n\t\n"}) {
        RegTree t = parseRegistryText(text, "f");
        EXPECT_TRUE(t.subKeyNames("").empty()) << '"' << text << '"';
    }
}

struct Damaged {
    const char* what;
    std::string text;
    int line;
};

TEST(RegistryText, DamagedTextNamesFileAndLine) {
    const std::string good = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick]\r\n"
                             "\"Item0\"=\"/home/u/pictures/a.jpg\"\r\n";
    const std::vector<Damaged> cases{
        {"not a store", "hello", 1},
        {"the Unicode variant", "Windows Registry Editor Version 5.00\r\n", 1},
        {"binary garbage", std::string("\x00\x01\x02garbage", 10), 1},
        {"cut in a text", good.substr(0, good.size() - 12), 4},
        {"cut in a key line", good.substr(0, 30), 3},
        {"value before a key", "REGEDIT4\n\"a\"=\"b\"\n", 2},
        {"another root", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n", 2},
        {"key deletion", "REGEDIT4\n[-HKEY_CURRENT_USER\\Software]\n", 2},
        {"value deletion", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=-\n", 3},
        {"bad dword", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=dword:12345678a\n", 3},
        {"bad hex", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:0g\n", 3},
        {"bad hex type", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex(z):00\n", 3},
        {"hex cut at the end", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:00,\\\n", 3},
        {"text after the quote", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"b\"c\n", 3},
        {"no =", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\" \"b\"\n", 3},
        {"stray line", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\nItem0=x\n", 3},
    };
    for (const auto& c : cases) {
        try {
            parseRegistryText(c.text, "/cfg/user.reg");
            ADD_FAILURE() << c.what << ": parsed";
        } catch (const RegistryError& e) {
            EXPECT_EQ(e.kind(), RegistryError::Kind::Unreadable) << c.what;
            const std::string expected = "/cfg/user.reg, line " + std::to_string(c.line) + ":";
            EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << c.what << ": " << e.what();
        }
    }
}

TEST(FileRegistry, MissingFileReadsEmptyAndAWriterCreatesFoldersAndFile) {
    ScratchDir dir;
    FileRegistry store(dir / "a/b/user.reg");
    EXPECT_FALSE(store.read()->keyExists("Software"));
    {
        auto w = store.write();
        ASSERT_TRUE(w->createKey("Software\\Tarnwick"));
        ASSERT_TRUE(w->setValue("Software\\Tarnwick", "x", RegValue::string("1")));
        EXPECT_FALSE(store.read()->keyExists("Software")); // not before the commit
        w->commit();
    }
    EXPECT_EQ(store.read()->queryValue("software\\tarnwick", "X")->text(), "1");
    EXPECT_EQ(std::filesystem::status(dir / "a/b/user.reg").permissions() &
                  std::filesystem::perms::others_read,
              std::filesystem::perms::none);
}

} // namespace
} // namespace tarnwick::platform
