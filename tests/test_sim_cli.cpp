// lumitrax-sim as a program: refusing bad options, and leaving nothing behind.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sim_process.h"

namespace {

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

TEST(SimProgram, BadOptionsExitWithStatusTwoAndSayWhy) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--channels", "3"}, "'--channels' needs a number from 4 to 16"},
        {{"--channels", "17"}, "'--channels' needs a number from 4 to 16"},
        {{"--delay"}, "'--delay' needs a value"},
        {{"--serial", ""}, "'--serial' needs one word"},
        {{"extra"}, "unexpected argument 'extra'"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args.front());
        std::string errors;
        EXPECT_EQ(RunSimToEnd(k.args, errors), 2);
        EXPECT_NE(errors.find(k.says), std::string::npos) << errors;
        EXPECT_NE(errors.find("--help"), std::string::npos) << errors;
    }
}

TEST(SimProgram, HelpListsTheOptions) {
    SimProcess sim({"--help"});
    EXPECT_EQ(sim.devicePath(), "Usage: lumitrax-sim [options]");
    EXPECT_EQ(sim.Wait(10000), 0);
}

TEST(SimProgram, StopSignalsRemoveTheLinkAndTheDevice) {
    for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signo);
        QTemporaryDir dir;
        const std::string link = dir.filePath("lumitrax").toStdString();
        SimProcess sim({"--link", link});
        ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(sim.devicePath(), target);
        // Held open here to see the terminal end: once it is gone its path may at once be given to
        // another test's simulator, so the path itself cannot tell.
        const int fd = ::open(sim.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);

        EXPECT_EQ(sim.Stop(signo), 0);
        EXPECT_FALSE(PathExists(link));
        pollfd p{fd, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 1000), 1);
        EXPECT_NE(p.revents & POLLHUP, 0) << "the terminal is still there";
        ::close(fd);
    }
}

TEST(SimProgram, LinkNames) {
    QTemporaryDir dir;
    // A stale link of a killed simulator is taken over...
    const std::string stale = dir.filePath("stale").toStdString();
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", stale.c_str()), 0);
    {
        SimProcess sim({"--link", stale});
        ASSERT_FALSE(sim.devicePath().empty()) << sim.ErrorOutput();
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_FALSE(PathExists(stale));
    }
    // ...but a file that is not a link is left alone, and the simulator does not start.
    const std::string file = dir.filePath("file").toStdString();
    std::ofstream(file) << "keep me\n";
    std::string errors;
    EXPECT_EQ(RunSimToEnd({"--link", file}, errors), 1);
    EXPECT_NE(errors.find("is not a symbolic link"), std::string::npos) << errors;
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

}  // namespace
