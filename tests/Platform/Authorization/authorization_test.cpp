// The real helper, started directly as root, launching harmless tools on files inside the
// test's own temporary directory.

#include "Authorization.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Polls cond every 10 ms for at most 10 s: long enough for any loaded machine, and never
// part of what is checked.
bool eventually(const std::function<bool()>& cond)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> entries(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                names.insert(n);
        }
        closedir(d);
    }
    return names;
}

// Parent pid and one-letter state of a process, from /proc/<pid>/stat.
bool processInfo(pid_t pid, pid_t& parent, char& state, std::string& name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return false;
    size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos)
        return false;
    name = line.substr(open + 1, close - open - 1);
    state = line[close + 2];
    parent = static_cast<pid_t>(std::atol(line.c_str() + close + 4));
    return true;
}

std::vector<pid_t> childrenOf(pid_t parentPid, const std::string& onlyName = "")
{
    std::vector<pid_t> found;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
            pid_t parent = 0;
            char state = 0;
            std::string name;
            if (pid > 0 && processInfo(pid, parent, state, name) && parent == parentPid
                && (onlyName.empty() || name == onlyName))
                found.push_back(pid);
        }
        closedir(d);
    }
    return found;
}

class Authorization : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "starts its helper directly only as root";
        char tmpl[] = "/tmp/nvauth-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref), 0);
    }
    void TearDown() override
    {
        if (ref)
            AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
        AuthorizationSetHelperPathForTesting(nullptr);
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }

    OSStatus run(const char* tool, std::vector<std::string> args)
    {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        return AuthorizationExecuteWithPrivileges(ref, tool, kAuthorizationFlagDefaults,
                                                  argv.data(), nullptr);
    }

    // A stand-in helper: a shell script that records each start and then does `body`.
    void fakeHelper(const std::string& body)
    {
        std::string path = dir + "/fake-helper";
        std::ofstream(path) << "#!/bin/sh\necho started >> '" << dir << "/starts'\n"
                            << body << "\n";
        chmod(path.c_str(), 0755);
        AuthorizationSetHelperPathForTesting(path.c_str());
    }

    int starts()
    {
        std::ifstream in(dir + "/starts");
        int n = 0;
        for (std::string line; std::getline(in, line);)
            ++n;
        return n;
    }

    std::string dir;
    AuthorizationRef ref = nullptr;
};

TEST_F(Authorization, RunsToolsWithTheExactArgumentVectorAndNoShell)
{
    const std::string odd = "with blank $HOME;* `x`";
    EXPECT_EQ(run("/bin/touch", {dir + "/plain", dir + "/" + odd}), 0);
    // Output of a tool must not disturb the answers that follow it.
    EXPECT_EQ(run("/bin/echo", {"noise", "on", "stdout"}), 0);
    EXPECT_EQ(run("/bin/mkdir", {dir + "/d"}), 0);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, "/bin/true", kAuthorizationFlagDefaults,
                                                 nullptr, nullptr),
              0);
    ASSERT_TRUE(eventually([&] { return entries(dir).size() == 3; }));
    EXPECT_EQ(entries(dir), (std::set<std::string> {"plain", odd, "d"}));
}

TEST_F(Authorization, ToolThatCannotBeExecutedFailsThatLaunchOnly)
{
    std::ofstream(dir + "/not-executable") << "#!/bin/sh\n";
    const std::vector<std::string> tools = {dir + "/missing", dir + "/not-executable", dir,
                                            "bin/touch", ""};
    for (const auto& tool : tools)
        EXPECT_EQ(run(tool.c_str(), {}), errAuthorizationToolExecuteFailure) << tool;
    EXPECT_EQ(run("/bin/touch", {dir + "/after"}), 0);
    EXPECT_TRUE(eventually([&] { return exists(dir + "/after"); }));
}

TEST_F(Authorization, DoesNotWaitForToolsReapsThemAndEndsWithTheAuthorization)
{
    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // cat blocks opening the FIFO until the test opens it for writing.
    ASSERT_EQ(run("/bin/cat", {fifo}), 0);
    ASSERT_EQ(run("/bin/touch", {dir + "/while-cat-blocks"}), 0);
    EXPECT_TRUE(eventually([&] { return exists(dir + "/while-cat-blocks"); }));

    std::vector<pid_t> helpers = childrenOf(getpid(), "nvauth-helper");
    ASSERT_EQ(helpers.size(), 1u);
    pid_t helper = helpers[0];
    ASSERT_TRUE(eventually([&] { return childrenOf(helper, "cat").size() == 1; }));

    int w = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    close(w);
    // Every tool has ended and been reaped: no child, not even a zombie, is left.
    EXPECT_TRUE(eventually([&] { return childrenOf(helper).empty(); }));

    ASSERT_EQ(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), 0);
    ref = nullptr;
    EXPECT_TRUE(childrenOf(getpid(), "nvauth-helper").empty());
}

TEST_F(Authorization, HelperThatEndsBeforeItIsReadyFailsEveryLaunchWithoutRestart)
{
    struct Case {
        const char* body;
        OSStatus status;
    };
    const Case cases[] = {
        {"exit 126", errAuthorizationCanceled}, // prompt dismissed
        {"exit 127", errAuthorizationDenied},   // not authorized or no agent
        {"exit 1", errAuthorizationInternal},
        {"printf XXXX >&0; exit 0", errAuthorizationInternal}, // not our helper
    };
    for (const Case& c : cases) {
        std::remove((dir + "/starts").c_str());
        AuthorizationRef fresh = nullptr;
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &fresh), 0);
        fakeHelper(c.body);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(AuthorizationExecuteWithPrivileges(fresh, "/bin/true", 0, nullptr,
                                                         nullptr),
                      c.status)
                << c.body;
        EXPECT_EQ(starts(), 1) << c.body;
        EXPECT_EQ(AuthorizationFree(fresh, 0), 0);
    }
    AuthorizationSetHelperPathForTesting((dir + "/no-such-helper").c_str());
    EXPECT_EQ(run("/bin/true", {}), errAuthorizationInternal);
}

TEST_F(Authorization, HelperLostAfterStartFailsThatLaunchAsEnvironmentErrorAndLaterOnesAsInternal)
{
    fakeHelper("printf NVA1 >&0; exit 0");
    EXPECT_EQ(run("/bin/true", {}), errAuthorizationToolEnvironmentError);
    EXPECT_EQ(run("/bin/true", {}), errAuthorizationInternal);
    EXPECT_EQ(starts(), 1);
}

TEST_F(Authorization, RejectsBadArguments)
{
    FILE* pipe = nullptr;
    AuthorizationItemSet oneRight {1, nullptr};
    AuthorizationRef out = nullptr;
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(nullptr, "/bin/true", 0, nullptr, nullptr),
              errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, nullptr, 0, nullptr, nullptr),
              errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, "/bin/true", 0, nullptr, &pipe),
              errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(ref, "/bin/true", 1, nullptr, nullptr),
              errAuthorizationInvalidFlags);
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 0, nullptr), errAuthorizationInvalidPointer);
    EXPECT_EQ(AuthorizationCreate(&oneRight, nullptr, 0, &out), errAuthorizationInvalidSet);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 2, &out), errAuthorizationInvalidFlags);
    EXPECT_EQ(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationFree(ref, 1), errAuthorizationInvalidFlags);
    // None of these started the helper.
    EXPECT_TRUE(childrenOf(getpid(), "nvauth-helper").empty());
    EXPECT_EQ(run("/bin/true", {}), 0);
}

TEST(AuthorizationHelper, RefusesToRunWithoutItsChannel)
{
    std::string helper = "nvauth-helper";
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    std::string path(self, static_cast<size_t>(n));
    helper = path.substr(0, path.rfind('/') + 1) + helper;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {&helper[0], nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

} // namespace
