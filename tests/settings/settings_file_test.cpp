#include <csignal>
#include <filesystem>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::readFile;
using test::TempFolder;
using test::writeFile;

class NotifyCounter : public SettingsListener {
public:
    int applied = 0;
    void applySettings(SettingsStore&) override { ++applied; }
    void collectSettings(SettingsStore&) override {}
};

bool saveAsApplication(SettingsStore& store, const std::string& path) {
    store.setRootName("Korvanel");
    store.setTarget("Korvanel Radio");
    store.setVersion("v0.3.6");
    return store.save(path, "ISO-8859-1", "1.0");
}

TEST(SettingsFile, ExampleStoreIsWrittenByteForByte) {
    TempFolder folder;
    SettingsStore store;
    store.put("General/AlwaysOnTop", SettingType::Bool, "false");
    store.put("General/Editor", SettingType::String, "notepad");
    store.put("Session/Position", SettingType::Point, "-32000,-32000");
    ASSERT_TRUE(saveAsApplication(store, folder.file("korvanel.xml")));
    EXPECT_EQ(readFile(folder.file("korvanel.xml")),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n"
              "\r\n"
              "<Korvanel target=\"Korvanel Radio\" version=\"v0.3.6\">\r\n"
              "   <General>\r\n"
              "      <AlwaysOnTop type=\"bool\">false</AlwaysOnTop>\r\n"
              "      <Editor type=\"string\">notepad</Editor>\r\n"
              "   </General>\r\n"
              "   <Session>\r\n"
              "      <Position type=\"point\">-32000,-32000</Position>\r\n"
              "   </Session>\r\n"
              "</Korvanel>\r\n");
}

TEST(SettingsFile, NeverNamedStoreAndNestedGroupsInByteOrder) {
    TempFolder folder;
    SettingsStore store;
    store.setString("Main/Text/NoTitle", "No Title");
    store.setString("Main/Status/Playing", "");
    store.put("Odd", SettingType::Unknown, "x");
    ASSERT_TRUE(store.save(folder.file("s.xml"), "ISO-8859-1", "1.0"));
    EXPECT_EQ(readFile(folder.file("s.xml")),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n"
              "\r\n"
              "<Settings target=\"Vantry EConfig\" version=\"1.0\">\r\n"
              "   <Main>\r\n"
              "      <Status>\r\n"
              "         <Playing type=\"string\"></Playing>\r\n"
              "      </Status>\r\n"
              "      <Text>\r\n"
              "         <NoTitle type=\"string\">No Title</NoTitle>\r\n"
              "      </Text>\r\n"
              "   </Main>\r\n"
              "   <Odd type=\"string\">x</Odd>\r\n"
              "</Settings>\r\n");
}

TEST(SettingsFile, LoadReadsTypesRootAndIdentityAndNotifiesOnce) {
    TempFolder folder;
    writeFile(folder.file("in.xml"),
              "<?xml version=\"1.0\"?>\n"
              "<Other target=\"T\">\n"
              "  <General>\n"
              "    <Count type=\"uint\">12</Count>\n"
              "    <Name>plain</Name>\n"
              "    <Weird type=\"float\">1.5</Weird>\n"
              "    <Flag type=\"BOOL\">true</Flag>\n"
              "  </General>\n"
              "  <Empty/>\n"
              "</Other>\n");
    SettingsStore store;
    registerDefaultSettings(store);
    NotifyCounter counter;
    store.addListener(&counter);
    ASSERT_TRUE(store.load(folder.file("in.xml")));
    EXPECT_EQ(counter.applied, 1);
    EXPECT_EQ(store.rootName(), "Other");
    EXPECT_EQ(store.target(), "T");
    EXPECT_EQ(store.version(), "1.0");  // no attribute: kept
    EXPECT_EQ(store.getInt("General/Count"), 12);
    EXPECT_EQ(store.getString("General/Name"), "plain");
    EXPECT_EQ(store.getString("General/Weird"), "");  // unknown type: no getter returns it
    EXPECT_FALSE(store.getBool("General/Flag"));      // type names are case-sensitive
    EXPECT_TRUE(store.contains("Empty"));
    EXPECT_EQ(store.getString("Empty"), "");
    EXPECT_EQ(store.getInt("General/ReconnectRetries"), 3);  // defaults the file lacks survive

    // "uint" is read but never written.
    ASSERT_TRUE(store.save(folder.file("out.xml"), "ISO-8859-1", "1.0"));
    const std::string written = readFile(folder.file("out.xml"));
    EXPECT_NE(written.find("<Count type=\"int\">12</Count>"), std::string::npos);
    EXPECT_NE(written.find("<Weird type=\"string\">1.5</Weird>"), std::string::npos);
    EXPECT_NE(written.find("<Other target=\"T\" version=\"1.0\">"), std::string::npos);
}

TEST(SettingsFile, TextsRoundTripThroughEscapingAndEncoding) {
    TempFolder folder;
    const std::string special = "a < b & c > d \"q\"\tx\r\nline two";
    const std::string latin1 = "Caf\xC3\xA9 M\xC3\xBCller \xC2\xA9";     // é ü © fit in one byte
    const std::string wide = "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x8E\xB5 \xE2\x82\xAC";  // 中文 🎵 €
    SettingsStore store;
    store.setString("T/Special", special);
    store.setString("T/Latin1", latin1);
    store.setString("T/Wide", wide);
    store.setString("T/Padded", "  leading and trailing\t ");
    store.setString("T/Empty", "");
    store.setTarget("say \"hi\" & <go>");
    ASSERT_TRUE(store.save(folder.file("rt.xml"), "ISO-8859-1", "1.0"));

    const std::string bytes = readFile(folder.file("rt.xml"));
    EXPECT_NE(bytes.find("a &lt; b &amp; c &gt; d &quot;q&quot;&#9;x&#13;&#10;line two"),
              std::string::npos);
    EXPECT_NE(bytes.find("Caf\xE9 M\xFCller \xA9"), std::string::npos);  // single bytes
    EXPECT_NE(bytes.find("&#x4E2D;&#x6587; &#x1F3B5; &#x20AC;"), std::string::npos);

    SettingsStore loaded;
    ASSERT_TRUE(loaded.load(folder.file("rt.xml")));
    EXPECT_EQ(loaded.getString("T/Special"), special);
    EXPECT_EQ(loaded.getString("T/Latin1"), latin1);
    EXPECT_EQ(loaded.getString("T/Wide"), wide);
    EXPECT_EQ(loaded.getString("T/Padded"), "leading and trailing");
    EXPECT_TRUE(loaded.contains("T/Empty"));
    EXPECT_EQ(loaded.target(), "say \"hi\" & <go>");
}

TEST(SettingsFile, KeysAndTextsThatXmlCannotHoldNeverSpoilTheFile) {
    TempFolder folder;
    SettingsStore store;
    store.setString("Good/Key", "kept");
    store.setString("Bad Key/Space", "dropped");
    store.setString("Bad//Empty", "dropped");
    store.setString("1Digit", "dropped");
    store.setString("Good/Control", std::string("bell\x07here"));
    store.setString("Good/Broken", std::string("half \xE4\xB8"));  // cut UTF-8
    ASSERT_TRUE(store.save(folder.file("s.xml"), "ISO-8859-1", "1.0"));

    SettingsStore loaded;
    ASSERT_TRUE(loaded.load(folder.file("s.xml")));
    EXPECT_EQ(loaded.getString("Good/Key"), "kept");
    EXPECT_EQ(loaded.getString("Good/Control"), "bellhere");
    EXPECT_EQ(loaded.getString("Good/Broken"), "half \xC3\xA4\xC2\xB8");  // bytes read as Latin-1
    EXPECT_FALSE(loaded.contains("1Digit"));
}

TEST(SettingsFile, NamesAnIso88591FileCannotHoldAreLeftOutInsteadOfSpoilingIt) {
    // A file someone saved as UTF-8, with element names beyond ISO-8859-1;
    // as references they would not be names, and nothing could be read.
    TempFolder folder;
    writeFile(folder.file("in.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<\xE8\xA8\xAD\xE5\xAE\x9A><General>"
              "<Editor type=\"string\">vi</Editor>"
              "<\xE4\xB8\xAD type=\"string\">wide</\xE4\xB8\xAD>"
              "<Caf\xC3\xA9 type=\"string\">latin</Caf\xC3\xA9>"
              "</General></\xE8\xA8\xAD\xE5\xAE\x9A>\n");
    SettingsStore store;
    ASSERT_TRUE(store.load(folder.file("in.xml")));
    ASSERT_TRUE(store.save(folder.file("out.xml"), "ISO-8859-1", "1.0"));

    SettingsStore loaded;
    ASSERT_TRUE(loaded.load(folder.file("out.xml")));
    EXPECT_EQ(loaded.getString("General/Editor"), "vi");
    EXPECT_EQ(loaded.getString("General/Caf\xC3\xA9"), "latin");  // fits in one byte
    EXPECT_FALSE(loaded.contains("General/\xE4\xB8\xAD"));
    EXPECT_EQ(loaded.rootName(), "Settings");

    // In UTF-8 every name can be written as it is.
    ASSERT_TRUE(store.save(folder.file("utf8.xml"), "UTF-8", "1.0"));
    SettingsStore wide;
    ASSERT_TRUE(wide.load(folder.file("utf8.xml")));
    EXPECT_EQ(wide.getString("General/\xE4\xB8\xAD"), "wide");
    EXPECT_EQ(wide.rootName(), "\xE8\xA8\xAD\xE5\xAE\x9A");
}

TEST(SettingsFile, BadFilesChangeNothingAndNotifyNobody) {
    TempFolder folder;
    SettingsStore store;
    registerDefaultSettings(store);
    store.setRootName("Keep");
    NotifyCounter counter;
    store.addListener(&counter);
    const auto before = store.entries();

    const std::vector<std::string> bad = {
        "",
        "<Korvanel><General><Proxy>x</Proxy></General>",  // truncated
        "<Korvanel><General><Proxy>x</General></Korvanel>",
        std::string("\x7f" "ELF\x02\x01\x01\0\0\0garbage\xff\xfe", 20),
        "<a/><b/>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><K>&undefined;</K>",
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        writeFile(folder.file("bad.xml"), bad[i]);
        EXPECT_FALSE(store.load(folder.file("bad.xml"))) << "case " << i;
    }
    EXPECT_FALSE(store.load(folder.file("missing.xml")));
    EXPECT_FALSE(store.load(folder.path()));  // a folder
    EXPECT_EQ(counter.applied, 0);
    EXPECT_EQ(store.rootName(), "Keep");
    EXPECT_EQ(store.entries().size(), before.size());
    EXPECT_EQ(store.getString("General/Proxy"), "");
}

TEST(SettingsFile, DeepNestingIsReadUpToWhatTheTreeHolds) {
    TempFolder folder;
    std::string text = "<R>";
    for (int level = 1; level <= 200; ++level) {
        text += "<G" + std::to_string(level) + ">";
        if (level == 14) {
            text += "<Shallow>kept</Shallow>";
        }
    }
    text += "<Deep>lost</Deep>";
    for (int level = 200; level >= 1; --level) {
        text += "</G" + std::to_string(level) + ">";
    }
    text += "</R>";
    writeFile(folder.file("deep.xml"), text);

    SettingsStore store;
    ASSERT_TRUE(store.load(folder.file("deep.xml")));
    std::string shallowKey;
    for (int level = 1; level <= 14; ++level) {
        shallowKey += "G" + std::to_string(level) + "/";
    }
    EXPECT_EQ(store.getString(shallowKey + "Shallow"), "kept");
    for (const auto& [key, entry] : store.entries()) {
        EXPECT_EQ(key.find("Deep"), std::string::npos) << key;
    }
}

TEST(SettingsFile, FailedSaveLeavesTheOldFileIntact) {
    TempFolder folder;
    const std::string path = folder.file("korvanel.xml");
    SettingsStore store;
    store.setString("General/Proxy", "old");
    ASSERT_TRUE(saveAsApplication(store, path));
    const std::string old = readFile(path);

    // A file-size limit makes the write fail part-way, as a full disk would;
    // it holds for root too.
    store.setString("General/Big", std::string(200000, 'x'));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved_ok = saveAsApplication(store, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(readFile(path), old);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        ++files;
    }
    EXPECT_EQ(files, 1u);  // no temporary file left behind

    EXPECT_FALSE(saveAsApplication(store, folder.file("no/such/folder/k.xml")));
}

}  // namespace
}  // namespace korvanel
