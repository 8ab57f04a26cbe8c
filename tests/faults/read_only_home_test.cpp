// korvanel-cli in a program folder it may read but not write: the settings
// save at the end fails, the file from before stays as it was, no temporary
// file is left behind, and the user is told.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/faults/fault_fixtures.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::HttpTestServer;

// A whole MP3 file served with its length: played to its end, then done.
HttpTestServer::Handler mp3File(const std::string& audio) {
    return HttpTestServer::reply("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
                                 std::to_string(audio.size()) + "\r\n\r\n" + audio);
}

TEST(ReadOnlyHome, FailedSaveKeepsTheOldSettingsFileLeavesNoTemporaryFileAndSaysSo) {
    test::TempFolder home;
    const std::string audio = test::mp3ToneFrames(home, 440, 1.0);
    ASSERT_FALSE(audio.empty());
    std::filesystem::remove(home.file("tone-440.mp3"));
    HttpTestServer station(mp3File(audio));
    const std::vector<std::string> arguments = {"play", "--pcm-out", "/dev/null", station.url("/song.mp3")};

    // A file as a user might have edited it: any save writes it anew, whole.
    const std::string settingsPath = home.file("korvanel.xml");
    const std::string edited =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<Korvanel><General>"
        "<ReconnectRetries type=\"int\">7</ReconnectRetries></General></Korvanel>\n";
    test::writeFile(settingsPath, edited);
    struct stat original {};
    ASSERT_EQ(::stat(settingsPath.c_str(), &original), 0);

    // Root writes wherever it likes: the read-only run drops to nobody.
    std::optional<ChildProcess::Identity> identity;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "running as root and there is no user 'nobody' to drop to";
        }
        identity = ChildProcess::Identity{nobody->pw_uid, nobody->pw_gid};
        ChildProcess probe(test::cliPath(), {"--help"}, {}, identity);
        if (probe.waitForExit(10s) != 0) {
            GTEST_SKIP() << "user 'nobody' cannot run " << test::cliPath() << ": " << probe.err();
        }
    }
    ASSERT_EQ(::chmod(home.path().c_str(), 0555), 0);
    ASSERT_EQ(::chmod(settingsPath.c_str(), 0444), 0);

    ChildProcess readOnly(test::cliPath(), arguments, test::cliEnvironment(home), identity);
    const std::optional<int> status = readOnly.waitForExit(30s);
    ::chmod(home.path().c_str(), 0755);
    ::chmod(settingsPath.c_str(), 0644);
    ASSERT_TRUE(status.has_value());
    // The run itself went well, with the file's own setting; only the
    // settings could not be kept.
    EXPECT_EQ(*status, 0) << readOnly.err();
    EXPECT_NE(readOnly.err().find(" :: Reached end of stream.."), std::string::npos) << readOnly.err();
    EXPECT_NE(readOnly.err().find("korvanel-cli: could not save the settings to " + settingsPath),
              std::string::npos)
        << readOnly.err();
    EXPECT_EQ(test::readFile(settingsPath), edited) << "the old file must stay as it was";
    struct stat after {};
    ASSERT_EQ(::stat(settingsPath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, original.st_ino) << "not even replaced by a copy";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"korvanel.xml"}) << "nothing left beside it";

    // The same run where it may write saves the file whole, keeping the edit.
    const test::ProcessResult writable =
        test::runProcess(test::cliPath(), arguments, test::cliEnvironment(home), 30s);
    EXPECT_EQ(writable.exitCode, 0) << writable.err;
    EXPECT_EQ(writable.err.find("could not save"), std::string::npos) << writable.err;
    const std::string saved = test::readFile(settingsPath);
    EXPECT_NE(saved, edited);
    EXPECT_NE(saved.find("<ReconnectRetries type=\"int\">7</ReconnectRetries>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<BufferSize type=\"int\">5000</BufferSize>"), std::string::npos) << saved;
}

}  // namespace
}  // namespace korvanel
