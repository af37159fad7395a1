// A thread that the referee starts beyond the frame loop's own (the image
// encoder's) and that the system refuses never ends a match: its work goes
// to the game thread, and the match writes what it writes with the thread.
// The refusal comes from a control group whose task limit leaves room for
// the referee's main thread, its four lidar workers, the two players and the
// game thread, and no more.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Platform.h"
#include "RunProcess.h"

namespace {

// The main thread, four lidar workers, two players and the game thread.
constexpr int TASKS_OF_A_MATCH = 8;
const char* const ENCODER_REFUSED = "Start image encoder thread err:";

// A control group of its own in the pids hierarchy, removed again at the end.
class TaskLimitedGroup {
public:
    explicit TaskLimitedGroup(int maxTasks) {
        const std::string name = "zvref-test-" + std::to_string(getpid());
        for (const char* hierarchy : {"/sys/fs/cgroup/pids", "/sys/fs/cgroup"}) {
            const std::string dir = std::string(hierarchy) + "/" + name;
            if (mkdir(dir.c_str(), 0755) != 0) continue;
            WriteFile(dir + "/pids.max", std::to_string(maxTasks) + "\n");
            if (ReadFile(dir + "/pids.max") == std::to_string(maxTasks) + "\n") {
                m_dir = dir;
                return;
            }
            rmdir(dir.c_str());
        }
    }
    ~TaskLimitedGroup() {
        if (m_dir.empty()) return;
        // The players leave once their pipes have closed; give them time.
        for (int i = 0; i < 1000 && rmdir(m_dir.c_str()) != 0; ++i) usleep(10000);
    }
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
};

// A whole debug-mode fast match of two circlers, its log at DBG; with a
// group, the referee runs in it from its start.
MatchRun PlayMatch(const std::string& group) {
    std::vector<std::string> command;
    if (!group.empty()) command = {"/bin/sh", "-c", "echo $$ > \"$0/cgroup.procs\" && exec \"$@\"", group};
    for (const char* arg : {ZVREF_PATH, "-l", "DBG", "-d", "-f"}) command.push_back(arg);
    return PlayWindowlessMatch(MakeTempDir("limit"), command, PLAYER_DIR "/circler", PLAYER_DIR "/circler");
}

// The log without the line that tells of the refused thread; whether it was there.
std::string WithoutRefusal(const std::string& log, bool& refused) {
    refused = false;
    std::string kept;
    size_t from = 0;
    while (from < log.size()) {
        size_t end = log.find('\n', from);
        end = end == std::string::npos ? log.size() : end + 1;
        const std::string line = log.substr(from, end - from);
        if (line.find(ENCODER_REFUSED) != std::string::npos) {
            refused = true;
        } else {
            kept += line;
        }
        from = end;
    }
    return kept;
}

}  // namespace

TEST(ThreadLimit, RefusedEncoderThreadLeavesTheMatchAsItIs) {
    if (Platform::ProcessorsAllowed() < 2) GTEST_SKIP() << "one processor: the referee starts no encoder thread";
    TaskLimitedGroup group(TASKS_OF_A_MATCH);
    if (group.Dir().empty()) GTEST_SKIP() << "no pids control group can be made here";

    const MatchRun limited = PlayMatch(group.Dir());
    const MatchRun normal = PlayMatch("");
    ASSERT_EQ(limited.run.exitCode, 0) << limited.run.err.substr(0, 2000);
    ASSERT_EQ(normal.run.exitCode, 0) << normal.run.err.substr(0, 2000);
    bool refused = false;
    const std::string limitedLog = WithoutRefusal(limited.run.err, refused);
    EXPECT_TRUE(refused) << "the encoder thread was not refused: the limit no longer fits the referee's threads";
    bool normalRefused = false;
    const std::string normalLog = WithoutRefusal(normal.run.err, normalRefused);
    EXPECT_FALSE(normalRefused);
    EXPECT_NE(normal.run.out.find("\"status\":\"Successful\""), std::string::npos) << normal.run.out;
    EXPECT_EQ(limited.run.out, normal.run.out);
    EXPECT_TRUE(limitedLog == normalLog) << "the log lines differ";
    EXPECT_FALSE(normal.replay.empty());
    EXPECT_TRUE(limited.replay == normal.replay) << "the replays differ";
}
