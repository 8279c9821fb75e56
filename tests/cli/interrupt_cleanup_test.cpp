// An interrupted run removes what it registered, and ends by the signal it
// got; a guard that is gone leaves its path alone. Each case runs in a
// forked child, since the signal ends the process.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "interrupt_cleanup.h"
#include "working_path_owner.h"

namespace fs = std::filesystem;

namespace {

// guardAlive: the guard still lives when the signal arrives
struct Case { const char* name; int signal; bool guardAlive; };

class InterruptCleanup : public ::testing::TestWithParam<Case> {};

TEST_P(InterruptCleanup, RemovesRegisteredTreeAndEndsBySignal)
{
    const Case& c = GetParam();
    const fs::path root = fs::temp_directory_path() /
                          ("split-interrupt-" + std::to_string(::getpid()) + "-" + c.name);
    fs::remove_all(root);
    fs::create_directories(root / "staging" / "nested");
    std::ofstream(root / "staging" / "nested" / "model.xml") << "<x/>";
    std::ofstream(root / "temp.csv") << "a\n";

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        {
            splitrun::RemoveOnInterrupt kept(root / "temp.csv");
            if (!c.guardAlive) {
                splitrun::RemoveOnInterrupt gone(root / "staging");
            }
            splitrun::RemoveOnInterrupt staging(c.guardAlive ? root / "staging" : root / "absent");
            ::raise(c.signal);
            // The watcher thread ends the process; give it time.
            for (int i = 0; i < 500; ++i) ::usleep(10000);
        }
        ::_exit(99);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), c.signal);
    EXPECT_FALSE(fs::exists(root / "temp.csv"));
    EXPECT_EQ(fs::exists(root / "staging"), !c.guardAlive);
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptCleanup,
                         ::testing::Values(Case{"int", SIGINT, true}, Case{"term", SIGTERM, true},
                                           Case{"hup", SIGHUP, true},
                                           Case{"unregistered", SIGINT, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A live process owns a path it can have made: one that started before the path last changed. One that
// started well after took over the number of an owner that is gone; a path that cannot be checked is kept.
TEST(WorkingPathOwner, ANumberTakenOverAfterThePathChangedNamesNoOwner)
{
    const fs::path fresh = fs::temp_directory_path() / ("split-owner-" + std::to_string(::getpid()));
    std::ofstream(fresh).put('x');
    EXPECT_FALSE(splitrun::ownerGone(::getpid(), fresh));
    EXPECT_TRUE(splitrun::ownerGone(::getpid(), "/usr/bin/env"));   // unchanged since the system was installed
    EXPECT_FALSE(splitrun::ownerGone(::getpid(), fresh / "none"));
    EXPECT_FALSE(splitrun::ownerGone(0, fresh));
    fs::remove(fresh);
}

}  // namespace
