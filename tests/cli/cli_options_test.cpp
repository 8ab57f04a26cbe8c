#include "cli/cli_options.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

CliParseResult parse(std::vector<std::string> arguments) { return parseCliArguments(arguments); }

TEST(CliOptions, PlayAndRecordTakeTheirOptionsAndSources) {
    const auto play = parse({"--set", "General/ReconnectRetries=5", "play", "--seconds", "10", "--pcm-out",
                             "-", "--devices", "1,2", "--volume", "0", "http://a/", "http://b/list.pls"});
    ASSERT_TRUE(play.options) << play.error;
    EXPECT_EQ(play.options->command, "play");
    EXPECT_EQ(play.options->seconds, 10);
    EXPECT_EQ(play.options->pcmOut, "-");
    EXPECT_EQ(play.options->devices, "1,2");
    EXPECT_EQ(play.options->volume, 0);
    EXPECT_EQ(play.options->sources, (std::vector<std::string>{"http://a/", "http://b/list.pls"}));
    ASSERT_EQ(play.options->settingOverrides.size(), 1u);
    EXPECT_EQ(play.options->settingOverrides[0].second, "5");

    const auto record = parse({"record", "--folder", "/tmp/x", "--pattern", "%station%", "--preset", "3"});
    ASSERT_TRUE(record.options) << record.error;
    EXPECT_EQ(record.options->preset, 3);
    EXPECT_EQ(record.options->folder, "/tmp/x");

    const auto list = parse({"list", "presets"});
    ASSERT_TRUE(list.options);
    EXPECT_EQ(list.options->listWhich, "presets");
    EXPECT_TRUE(parse({"--help"}).options->help);
}

TEST(CliOptions, BadUsageIsOneClearLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"dance"},
        {"--verbose", "play", "x"},
        {"play"},
        {"play", "--seconds", "0", "x"},
        {"play", "--seconds", "ten", "x"},
        {"play", "--volume", "101", "x"},
        {"play", "--volume"},
        {"play", "--folder", "/tmp", "x"},
        {"record", "--pcm-out", "-", "x"},
        {"play", "--favorite", "1", "--preset", "2"},
        {"play", "--favorite", "1", "http://a/"},
        {"resolve"},
        {"resolve", "a", "b"},
        {"list", "stations"},
        {"update-presets", "now"},
        {"--set", "NoEquals", "list", "presets"},
        {"--set", "=value", "list", "presets"},
        {"play", std::string(10000, 'x')},
    };
    for (const auto& arguments : bad) {
        const auto result = parse(arguments);
        EXPECT_FALSE(result.options) << (arguments.empty() ? "(none)" : arguments[0]);
        EXPECT_FALSE(result.error.empty());
        EXPECT_EQ(result.error.find('\n'), std::string::npos);
    }
}

}  // namespace
}  // namespace korvanel
