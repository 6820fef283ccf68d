// doorphonectl as a hostile or clumsy user meets it: bad files, bad state, two runs at once, a wire log
// that cannot be written. Every case ends with a clear message and its documented exit code.
#include "tests/cli/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

class Hostile : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        char pattern[] = "/tmp/dpc-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }
    void Write(const std::string& name, const std::string& text) const { std::ofstream(Path(name)) << text; }

    Result Ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), DPC_DOORPHONECTL);
        return RunProgram(std::move(args), dir.string());
    }
    Result OnState(const std::string& state, std::vector<std::string> args)
    {
        args.insert(args.begin(), "--simulate=" + Path(state));
        return Ctl(std::move(args));
    }
};

TEST_F(Hostile, ProfilesThatAreNotProfilesAreRefusedWithAShortMessage)
{
    const std::string head = R"({"format": "doorphoneconfig-profile", "version": 1, "settings": )";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"format": 1})", "not a profile"},
        {R"({"format": null})", "not a profile"},
        {R"([1, 2])", "not a profile"},
        {R"({"format": "doorphoneconfig-profile", "version": 4294967297, "settings": {}})",
         "unsupported profile version"},
        {R"({"format": "doorphoneconfig-profile", "version": 1.0000001, "settings": {}})",
         "unsupported profile version"},
        {head + R"({"audio.dsp": "nope", "audio.dsp": "Full Duplex with Noise Reduction"}})",
         "the key \"audio.dsp\" stands twice"},
        {head + R"({"door.open-code": "9\u0100"}})", "U+00FF"},
        {"\x01\x02\xff{\"", "not JSON"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        Write("p.json", text);
        const Result r = Ctl({"--simulate", "import", Path("p.json")});
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr(message));
        EXPECT_LT(r.err.size(), 400u) << "a short message, not the input";
    }
    // A huge unknown key is quoted as a short excerpt.
    Write("p.json", head + "{\"" + std::string(1000000, 'k') + "\": \"1\"}}");
    const Result r = Ctl({"--simulate", "import", Path("p.json")});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("unknown key kkkk"));
    EXPECT_LT(r.err.size(), 400u);
}

TEST_F(Hostile, FilesThatCannotBeReadGiveTheReason)
{
    Result r = Ctl({"--simulate", "import", "/proc/self/mem"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("cannot read /proc/self/mem"));
    r = Ctl({"--simulate=" + dir.string(), "show"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("it is a folder"));
}

TEST_F(Hostile, AStateFileIsCheckedStrictlyAndTheFieldNamed)
{
    auto state = [](const std::string& change) {
        nlohmann::json s = {{"format", "doorphoneconfig-virtual-controller"},
                            {"firmware", {16, 82}},
                            {"station", 115},
                            {"level", 64},
                            {"choices", nlohmann::json::object()},
                            {"texts", nlohmann::json::object()}};
        s.merge_patch(nlohmann::json::parse(change));
        return s.dump();
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"station": 371})", "station"},
        {R"({"level": -1})", "level"},
        {R"({"level": 1e300})", "level"},
        {R"({"firmware": [16]})", "firmware"},
        {R"({"choices": {"audio.dsp": 2}})", "audio.dsp"},
        {R"({"choices": {"audio.dsp": "0"}})", "audio.dsp"},
        {R"({"texts": {"maintenance.dtmf-password": "abc"}})", "maintenance.dtmf-password"},
        {R"({"texts": {"maintenance.dtmf-password": "12\u00003"}})", "maintenance.dtmf-password"},
        {R"({"texts": {"door.employee-access-code": "123456789"}})", "door.employee-access-code"},
    };
    for (const auto& [change, field] : cases) {
        SCOPED_TRACE(change);
        Write("s.json", state(change));
        const Result r = OnState("s.json", {"show"});
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("cannot use the state file"));
        EXPECT_THAT(r.err, HasSubstr(field));
    }
    Write("s.json", state(R"({"texts": {"maintenance.dtmf-password": "*9#"}})"));
    EXPECT_EQ(OnState("s.json", {"show"}).status, 0);
}

TEST_F(Hostile, TwoRunsAtOnceOnOneStateFileKeepBothChangesAndValidJson)
{
    ASSERT_EQ(OnState("s.json", {"show"}).status, 0);
    auto loop = [&](std::vector<std::string> args, int times) {
        for (int i = 0; i < times; ++i) {
            EXPECT_EQ(OnState("s.json", args).status, 0);
        }
    };
    std::thread a(loop, std::vector<std::string>{"set", "audio.dsp", "1"}, 15);
    std::thread b(loop, std::vector<std::string>{"set", "door.relay-time", "30 Seconds"}, 15);
    std::thread c(loop, std::vector<std::string>{"get", "audio.dsp"}, 15);
    a.join();
    b.join();
    c.join();
    const auto state = nlohmann::json::parse(ReadFile(Path("s.json")));  // throws on a torn file
    EXPECT_EQ(state["choices"]["audio.dsp"], 1);
    EXPECT_EQ(state["choices"]["door.relay-time"], 30);
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr("doorphoneconfig-"))) << "no temporary left";
    }
}

TEST_F(Hostile, SavingKeepsAReadOnlyModeAndASymlink)
{
    ASSERT_EQ(OnState("s.json", {"show"}).status, 0);
    ASSERT_EQ(chmod(Path("s.json").c_str(), 0444), 0);
    fs::create_symlink("s.json", dir / "link.json");
    ASSERT_EQ(OnState("link.json", {"set", "audio.dsp", "1"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
    struct stat st {};
    ASSERT_EQ(stat(Path("s.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(nlohmann::json::parse(ReadFile(Path("s.json")))["choices"]["audio.dsp"], 1);
    // Reading changes nothing, so the file is not even rewritten.
    const auto before = fs::last_write_time(dir / "s.json");
    ASSERT_EQ(OnState("s.json", {"get", "audio.dsp"}).status, 0);
    EXPECT_EQ(fs::last_write_time(dir / "s.json"), before);
}

TEST_F(Hostile, AChangeThatCannotBeSavedIsAFailure)
{
    ASSERT_EQ(OnState("s.json", {"show"}).status, 0);
    fs::remove(dir / "s.json.lock");
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    std::vector<std::string> args{
        DPC_AS_UNPRIVILEGED_RUN, DPC_DOORPHONECTL, "--simulate=" + Path("s.json"), "set", "audio.dsp", "1"};
    const Result r = RunProgram(args, "/tmp");
    fs::permissions(dir, fs::perms::all);
    if (r.status == 77) {
        GTEST_SKIP() << r.err;
    }
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("cannot save the state file"));
}

TEST_F(Hostile, AWireLogThatCannotBeWrittenIsSaidOnceAndOneThatWouldBlockIsRefused)
{
    Result r = Ctl({"--simulate", "--wire-log", "/dev/full", "show"});
    EXPECT_EQ(r.status, 1);
    const std::string said = "cannot write the wire log /dev/full";
    EXPECT_THAT(r.err, HasSubstr(said));
    EXPECT_EQ(r.err.find(said), r.err.rfind(said)) << "said once";
    EXPECT_THAT(r.err, HasSubstr("the wire log /dev/full is incomplete"));

    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    r = Ctl({"--simulate", "--wire-log", Path("fifo"), "show"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("a FIFO that nobody reads"));
    r = Ctl({"--simulate", "--wire-log", dir.string(), "show"});
    EXPECT_EQ(r.status, 2);
}

// The real program in a terminal 80 or 50 columns wide (COLUMNS), and with its output to a file and no
// COLUMNS (80): no line of the help, of any command's help or of keys is longer; its words stay whole.
TEST_F(Hostile, HelpAndKeysFitTheWidthTheyAreGiven)
{
    const char* before = std::getenv("COLUMNS");
    const std::string saved = before ? before : "";
    for (const char* width : {"80", "50", ""}) {
        if (*width) {
            setenv("COLUMNS", width, 1);
        } else {
            unsetenv("COLUMNS");
        }
        const std::size_t most = *width ? std::stoul(width) : 80;
        std::vector<std::vector<std::string>> runs = {{"--help"}, {"keys"}};
        for (const char* command :
             {"list", "show", "get", "set", "restore-defaults", "flash", "export", "import", "provision", "keys"}) {
            runs.push_back({command, "--help"});
        }
        for (const std::vector<std::string>& args : runs) {
            const Result r = Ctl(args);
            EXPECT_EQ(r.status, 0) << r.err;
            std::istringstream lines(r.out);
            for (std::string line; std::getline(lines, line);) {
                EXPECT_LE(line.size(), most) << args.front() << " at " << most << ": " << line;
            }
        }
    }
    before ? setenv("COLUMNS", saved.c_str(), 1) : unsetenv("COLUMNS");
}

// With no COLUMNS and standard output on a terminal, the terminal's own width (its size as the kernel
// keeps it): a pseudo-terminal 46 columns wide.
TEST_F(Hostile, WithoutColumnsTheTerminalsOwnWidthIsUsed)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 46;
    ASSERT_EQ(ioctl(slave, TIOCSWINSZ, &size), 0);
    std::string shown;
    std::thread reader([&] {  // the terminal's side, read as it is written so that the program never waits
        char buffer[4096];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
            shown.append(buffer, static_cast<std::size_t>(n));
        }
    });
    const char* before = std::getenv("COLUMNS");
    const std::string saved = before ? before : "";
    unsetenv("COLUMNS");
    StandardOutput terminal;
    terminal.fd = slave;
    const Result r = RunProgram({DPC_DOORPHONECTL, "--help"}, dir.string(), terminal);
    before ? setenv("COLUMNS", saved.c_str(), 1) : unsetenv("COLUMNS");
    close(slave);  // the reader ends once no one holds the terminal's other side
    reader.join();
    close(master);
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(shown);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        EXPECT_LE(line.size(), 46u) << line;
    }
    EXPECT_GT(count, 20u) << shown;
}

// What the parser itself says starts with the program's name, as every other message does.
TEST_F(Hostile, TheParsersMessagesStartWithTheProgramsName)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"shwo"}, {"get"}, {"show", "--bogus"}, {"keys", "extra"}}) {
        const Result r = Ctl(args);
        EXPECT_EQ(r.status, 2);
        ASSERT_FALSE(r.err.empty());
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_EQ(line.rfind("doorphonectl: ", 0), 0u) << line;
        }
    }
    const Result r = Ctl({"shwo"});
    EXPECT_EQ(r.err, "doorphonectl: unknown command \"shwo\"; did you mean \"show\"?\n");
}

}  // namespace
