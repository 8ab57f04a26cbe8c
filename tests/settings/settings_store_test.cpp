#include "settings/settings_store.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace korvanel {
namespace {

class RecordingListener : public SettingsListener {
public:
    RecordingListener(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void applySettings(SettingsStore&) override { log_.push_back(name_ + ".apply"); }
    void collectSettings(SettingsStore& store) override {
        log_.push_back(name_ + ".collect");
        store.setInt("Live/" + name_, 1);
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

TEST(SettingsStore, TypedGettersFollowTheConversionRules) {
    SettingsStore store;
    const auto boolOf = [&](const char* text) {
        store.put("B", SettingType::Bool, text);
        return store.getBool("B");
    };
    EXPECT_TRUE(boolOf("TRUE"));
    EXPECT_TRUE(boolOf(" true "));
    EXPECT_TRUE(boolOf("\ttrue\r\n"));
    EXPECT_TRUE(boolOf("1"));
    EXPECT_FALSE(boolOf("yes"));
    EXPECT_FALSE(boolOf("2"));
    EXPECT_FALSE(boolOf(" 1 x"));
    EXPECT_FALSE(boolOf(""));

    const auto intOf = [&](const char* text) {
        store.put("I", SettingType::Int, text);
        return store.getInt("I");
    };
    EXPECT_EQ(intOf("  -42"), -42);
    EXPECT_EQ(intOf("+7"), 7);
    EXPECT_EQ(intOf("12abc"), 12);
    EXPECT_EQ(intOf("abc"), 0);
    EXPECT_EQ(intOf(""), 0);
    EXPECT_EQ(intOf("99999999999999999999"), 2147483647);  // clamped, not wrapped
    EXPECT_EQ(intOf("-99999999999999999999"), -2147483647 - 1);

    const auto colorOf = [&](const char* text) {
        store.put("C", SettingType::Color, text);
        return store.getColor("C");
    };
    EXPECT_EQ(colorOf("f6f4d8"), 0xd8f4f6u);
    EXPECT_EQ(colorOf("  ##F6F4D8 \r\n"), 0xd8f4f6u);
    EXPECT_EQ(colorOf("zz0000"), 0u);    // digits outside 0-9a-f count as 0
    EXPECT_EQ(colorOf("ff"), 0xffu);     // missing digits count as 0
    EXPECT_EQ(colorOf(""), 0u);

    const auto pointOf = [&](const char* text) {
        store.put("P", SettingType::Point, text);
        return store.getPoint("P");
    };
    EXPECT_EQ(pointOf("-32000,-32000"), (SettingPoint{-32000, -32000}));
    EXPECT_EQ(pointOf("7"), (SettingPoint{7, 7}));
    EXPECT_EQ(pointOf("3,x"), (SettingPoint{3, 0}));
    EXPECT_EQ(pointOf(""), (SettingPoint{0, 0}));
}

TEST(SettingsStore, SettersWriteTheTextFormsAndChangeTheType) {
    SettingsStore store;
    store.setInt("I", -5);
    EXPECT_EQ(store.getText("I", SettingType::Int), "-5");
    EXPECT_EQ(store.getInt("I"), -5);
    store.setColor("C", 0xd8f4f6);
    EXPECT_EQ(store.getText("C", SettingType::Color), "#f6f4d8");
    store.setPoint("P", -1, 20);
    EXPECT_EQ(store.getText("P", SettingType::Point), "-1,20");
    store.setBool("B", true);
    EXPECT_EQ(store.getText("B", SettingType::Bool), "true");

    store.setString("S", "text");
    store.setInt("S", 3);
    EXPECT_EQ(store.getString("S"), "");  // the setter changed the type
    EXPECT_EQ(store.getInt("S"), 3);

    store.put("U", SettingType::Unknown, "5");
    EXPECT_EQ(store.getInt("U"), 0);
    EXPECT_EQ(store.getString("U"), "");
    EXPECT_FALSE(store.contains("Missing"));
    EXPECT_EQ(store.getInt("Missing"), 0);
    EXPECT_FALSE(store.contains("Missing"));  // reading never creates a key
}

TEST(SettingsStore, ListenersAreNotifiedAndCollectedInRegistrationOrder) {
    SettingsStore store;
    std::vector<std::string> log;
    store.notifyChanged();  // nobody registered: nothing happens
    store.removeListener(nullptr);

    RecordingListener a("a", log), b("b", log);
    store.addListener(&a);
    store.addListener(&b);
    store.addListener(&a);
    store.setInt("X", 1);  // setters notify nobody
    EXPECT_TRUE(log.empty());

    store.notifyChanged();
    EXPECT_EQ(log, (std::vector<std::string>{"a.apply", "b.apply", "a.apply"}));
    log.clear();
    store.removeListener(&a);  // only the first registration goes
    store.collectAll();
    EXPECT_EQ(log, (std::vector<std::string>{"b.collect", "a.collect"}));
    EXPECT_EQ(store.getInt("Live/b"), 1);
}

TEST(SettingsStore, CopyAssignmentCopiesEntriesAndIdentityButNotListeners) {
    SettingsStore original;
    std::vector<std::string> log;
    RecordingListener listener("l", log);
    original.addListener(&listener);
    original.setString("General/Proxy", "proxy.example");
    original.setRootName("Root");
    original.setTarget("Target");
    original.setVersion("v9");

    SettingsStore copy;
    copy.setString("Only/InCopy", "gone after assignment");
    copy = original;
    EXPECT_EQ(copy.getString("General/Proxy"), "proxy.example");
    EXPECT_FALSE(copy.contains("Only/InCopy"));
    EXPECT_EQ(copy.rootName(), "Root");
    EXPECT_EQ(copy.target(), "Target");
    EXPECT_EQ(copy.version(), "v9");
    copy.notifyChanged();
    EXPECT_TRUE(log.empty());

    SettingsStore& alias = copy;
    copy = alias;  // self-assignment keeps everything
    EXPECT_EQ(copy.getString("General/Proxy"), "proxy.example");
}

TEST(SettingsStore, WorkersReadWhileTheWindowThreadWrites) {
    SettingsStore store;
    store.setInt("General/ReconnectRetries", 3);
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const int value = store.getInt("General/ReconnectRetries");
                if (value != 3 && value != 4) {
                    ++badReads;
                }
                store.getString("General/Proxy");
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        store.setInt("General/ReconnectRetries", 3 + i % 2);
        store.setString("General/Proxy", std::string(static_cast<std::size_t>(i % 50), 'p'));
        store.setInt("Grow/Key" + std::to_string(i), i);
    }
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(badReads, 0);
}

}  // namespace
}  // namespace korvanel
