#include "frontend/preference_rules.h"

#include <set>

#include <gtest/gtest.h>

#include "audio/output_channel.h"
#include "base/program_path.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace preferences;

TEST(PreferenceRules, NumbersBitratesAndTheBufferInKiB) {
    EXPECT_EQ(numberFromField("  42"), 42);
    EXPECT_EQ(numberFromField("12abc"), 12);
    EXPECT_EQ(numberFromField("abc"), 0);
    EXPECT_EQ(numberFromField(""), 0);
    EXPECT_EQ(numberFromField("99999999999999"), 2147483647);

    EXPECT_EQ(snapLameBitrate(128), 128);
    EXPECT_EQ(snapLameBitrate(100), 112);
    EXPECT_EQ(snapLameBitrate(300), 320);
    EXPECT_EQ(snapLameBitrate(0), 32);
    EXPECT_EQ(snapLameBitrate(-5), 32);
    EXPECT_EQ(snapLameBitrate(256), 256);
    EXPECT_EQ(snapLameBitrate(257), 320);

    EXPECT_EQ(kibToBytes(4096), 4194304);
    EXPECT_EQ(bytesToKib(5242880), 5120);
    // Too large for the store: held, never wrapped to a negative size.
    EXPECT_EQ(kibToBytes(2147483647), 2097151 * 1024);
    EXPECT_GT(kibToBytes(3000000), 0);
}

TEST(PreferenceRules, TheDeviceListReadsBackAsTheSameDevices) {
    for (const std::vector<int>& chosen : {std::vector<int>{0}, std::vector<int>{1}, std::vector<int>{1, 3, 12}}) {
        EXPECT_EQ(OutputChannel::parseDeviceList(deviceListText(chosen)), chosen) << deviceListText(chosen);
    }
    EXPECT_EQ(deviceListText({2, 0}), "2,0");
    EXPECT_EQ(OutputChannel::parseDeviceList(deviceListText({})), std::vector<int>{0});
}

TEST(PreferenceRules, OpenUrlTakesOnlyAnAddressTheClipboardReallyHolds) {
    EXPECT_EQ(openUrlPrefill(" \t http://radio.example/live\r\n"), "http://radio.example/live");
    EXPECT_EQ(openUrlPrefill("mms://media/stream"), "mms://media/stream");
    EXPECT_EQ(openUrlPrefill("https://radio.example/live.aac\n"), "https://radio.example/live.aac");
    EXPECT_EQ(openUrlPrefill("\nrtsp://cam/one  "), "rtsp://cam/one");
    EXPECT_EQ(openUrlPrefill("HTTP://radio.example/live"), "");
    EXPECT_EQ(openUrlPrefill("radio.example/live"), "");
    EXPECT_EQ(openUrlPrefill("see http://radio.example/"), "");
    EXPECT_EQ(openUrlPrefill(" \r\n\t"), "");
    EXPECT_EQ(openUrlPrefill("http:/"), "");
}

TEST(PreferenceRules, EveryDrawNamesOneOfEightQuotationsAndAllOccur) {
    std::set<std::string> keys;
    for (unsigned draw = 0; draw < 64; ++draw) {
        keys.insert(quotationKey(draw));
    }
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(kQuotationCount));
    EXPECT_EQ(*keys.begin(), "Dialogs/About/Quote1");
    EXPECT_EQ(quotationKey(4294967295u), "Dialogs/About/Quote8");
}

TEST(PreferenceRules, ChosenFilesInsideTheProgramFolderAreStoredRelative) {
    test::TempFolder home;
    test::ScopedEnv env("KORVANEL_HOME", home.path());
    EXPECT_EQ(programRelativePath(home.path() + "/languages/lang.de.xml"), "languages/lang.de.xml");
    EXPECT_EQ(programRelativePath("/usr/share/icons/radio.png"), "/usr/share/icons/radio.png");
    // Climbing out, or a folder that merely starts with the same name.
    EXPECT_EQ(programRelativePath(home.path() + "/../elsewhere.xml"), home.path() + "/../elsewhere.xml");
    EXPECT_EQ(programRelativePath(home.path() + "x/file.xml"), home.path() + "x/file.xml");
    EXPECT_EQ(programRelativePath(home.path() + "/"), home.path() + "/");
}

}  // namespace
}  // namespace korvanel
