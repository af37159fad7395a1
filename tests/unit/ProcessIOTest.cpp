// Child processes and their pipes, with real children (build/testplayers/pipe_*).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PlatformProcesses.h"
#include "ProcessIO.h"
#include "RunProcess.h"

namespace {

std::string TestPlayer(const std::string& name) { return std::string(TESTPLAYER_DIR) + "/" + name; }

double NowSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Records everything the base class hands over.
class TestProcess : public ProcessIO {
public:
    TestProcess() : ProcessIO(true, true) {}

    std::string m_startText;  // written by HandleStart when not empty
    std::function<void(const char*, uint32_t)> m_onRead;
    std::string m_received;
    std::vector<uint32_t> m_readSizes;
    int m_iStarts = 0;
    int m_iIoErrors = 0;

    using ProcessIO::s_ReadCompleteFunc;
    int32_t PendingReads() const { return m_iPendingReads; }
    void SetPendingReads(int32_t n) { m_iPendingReads = n; }
    uint32_t Seq() const { return m_uSeq; }
    Platform::PipeHandle ReadEnd() const { return m_hChildStdOut; }
    Platform::PipeHandle WriteEnd() const { return m_hChildStdIn; }
    Platform::ProcessHandle Process() const { return m_hProcess; }

protected:
    void HandleStart() override {
        ++m_iStarts;
        if (!m_startText.empty()) {
            EXPECT_TRUE(WriteToProcess(m_startText.data(), static_cast<uint32_t>(m_startText.size())));
        }
    }
    void HandleRead(const char* data, uint32_t len) override {
        m_readSizes.push_back(len);
        m_received.append(data, len);
        if (m_onRead) m_onRead(data, len);
    }
    void HandleIOError() override { ++m_iIoErrors; }
};

// Polls until done() holds; false after the time limit.
bool PollUntil(const std::function<bool()>& done, double seconds = 20.0) {
    const double deadline = NowSeconds() + seconds;
    while (!done()) {
        if (NowSeconds() > deadline) return false;
        ProcessIO::PostAsyncReadReq();
        usleep(200);
    }
    return true;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Waits until the pipe end has something to read (without reading it).
bool WaitReadable(Platform::PipeHandle fd) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 10000) == 1;
}

std::string FloodPattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 4093) & 0xFF);
    return s;
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string CurrentDir() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string LinkTarget(const std::string& path) {
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string PipeName(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return "";
    return "pipe:[" + std::to_string(st.st_ino) + "]";
}

int OpenDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (readdir(dir)) ++count;
    closedir(dir);
    return count;
}

// ---------------------------------------------------------------- start and handshake

struct StartTextCase {
    const char* name;
    const char* text;
};

TEST(ProcessIOTest, StartTextReachesTheChildByteExact) {
    const StartTextCase cases[] = {{"player 1", "BLUE\nOK\n"}, {"player 2", "RED\nOK\n"}};
    for (const StartTextCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestProcess p;
        p.m_startText = c.text;
        ASSERT_TRUE(p.Start(TestPlayer("pipe_echo").c_str()));
        EXPECT_EQ(p.m_iStarts, 1);
        ASSERT_TRUE(PollUntil([&] { return p.m_received.size() >= strlen(c.text); }));
        for (int i = 0; i < 5; ++i) ProcessIO::PostAsyncReadReq();
        EXPECT_EQ(p.m_received, c.text);  // echoed back: exactly what the child read
    }
}

TEST(ProcessIOTest, ReferenceEndsAreNonBlockingAndCloseOnExec) {
    TestProcess p;
    ASSERT_TRUE(p.Start(TestPlayer("pipe_echo").c_str()));
    for (int fd : {p.ReadEnd(), p.WriteEnd()}) {
        EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    }
}

// ---------------------------------------------------------------- reads

TEST(ProcessIOTest, LargeOutputArrivesOverSeveralPollsInOrder) {
    const size_t total = 400000;
    TestProcess p;
    ASSERT_TRUE(p.Start((TestPlayer("pipe_flood") + " " + std::to_string(total)).c_str()));
    const double deadline = NowSeconds() + 20.0;
    while (p.m_received.size() < total && NowSeconds() < deadline) {
        size_t callsBefore = p.m_readSizes.size();
        ProcessIO::PostAsyncReadReq();
        EXPECT_LE(p.m_readSizes.size(), callsBefore + 1) << "one read per object and poll";
        EXPECT_EQ(p.PendingReads(), 0) << "every posted read completes in its own poll";
        usleep(200);
    }
    ASSERT_EQ(p.m_received.size(), total);
    EXPECT_TRUE(p.m_received == FloodPattern(total)) << "bytes out of order or altered";
    EXPECT_GE(p.m_readSizes.size(), 4u);
    for (uint32_t n : p.m_readSizes) EXPECT_LE(n, 131072u);
    EXPECT_EQ(p.m_iIoErrors, 0);
}

TEST(ProcessIOTest, PollsWithoutOutputCallNothingAndLogNothing) {
    TestProcess p;
    ASSERT_TRUE(p.Start(TestPlayer("pipe_echo").c_str()));
    testing::internal::CaptureStderr();
    ProcessIO::PostAsyncReadReq();
    ProcessIO::PostAsyncReadReq();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(p.m_readSizes.empty());
    EXPECT_EQ(p.m_iIoErrors, 0);
}

TEST(ProcessIOTest, EndOfOutputIsAnIoErrorOncePerPoll) {
    TestProcess p;
    ASSERT_TRUE(p.Start(TestPlayer("pipe_exit").c_str()));
    testing::internal::CaptureStderr();
    bool ended = PollUntil([&] { return p.m_iIoErrors >= 1; });
    const int first = p.m_iIoErrors;
    for (int i = 0; i < 3; ++i) ProcessIO::PostAsyncReadReq();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(p.m_iIoErrors, 4) << "again on every later poll, once each";
    EXPECT_EQ(CountOccurrences(err, "ReadFileEx err. Broken pipe\n"), 4);
    EXPECT_EQ(err.size(), 4 * strlen("ReadFileEx err. Broken pipe\n"));
    EXPECT_TRUE(p.m_readSizes.empty());
    EXPECT_EQ(p.PendingReads(), 0);
}

// The completion's contract, which a real pipe on this system cannot reach
// with an empty read or a failed one.
TEST(ProcessIOTest, CompletionPassesEmptyReadsAndReportsErrors) {
    struct Case {
        const char* name;
        uint32_t error;
        int reads;
        int ioErrors;
    };
    const Case cases[] = {{"0 bytes read", 0, 1, 0}, {"read failed", 5, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestProcess p;
        p.SetPendingReads(1);
        ReadRequest* request = new ReadRequest;
        request->overlapped = Platform::IoRecord();
        request->owner = &p;
        request->seq = p.Seq();
        TestProcess::s_ReadCompleteFunc(c.error, 0, &request->overlapped);  // frees the request
        EXPECT_EQ(static_cast<int>(p.m_readSizes.size()), c.reads);
        if (c.reads == 1) {
            EXPECT_EQ(p.m_readSizes[0], 0u);
        }
        EXPECT_EQ(p.m_iIoErrors, c.ioErrors);
        EXPECT_EQ(p.PendingReads(), 0);
    }
}

// b's read is already due in the same poll when a's handler stops (and
// restarts) b: the old read is dropped.
TEST(ProcessIOTest, ReadDueAfterStopOrRestartIsDroppedWithSeqError) {
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "stop and start" : "stop");
        TestProcess a;
        TestProcess b;
        const std::string flood = TestPlayer("pipe_flood") + " 10";
        ASSERT_TRUE(a.Start(flood.c_str()));
        ASSERT_TRUE(b.Start(flood.c_str()));
        ASSERT_TRUE(WaitReadable(a.ReadEnd()));
        ASSERT_TRUE(WaitReadable(b.ReadEnd()));
        a.m_onRead = [&](const char*, uint32_t) {
            b.Stop();
            if (restart) b.Start(nullptr);
        };
        testing::internal::CaptureStderr();
        ProcessIO::PostAsyncReadReq();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(a.m_received.size(), 10u);
        EXPECT_TRUE(b.m_readSizes.empty());
        EXPECT_EQ(CountOccurrences(err, "[ERR]Robot/ProcessIO.cpp:"), 1) << err;
        EXPECT_TRUE(EndsWith(err, "|frame[1]|Check seq err.\n")) << err;
        a.m_onRead = nullptr;
        if (!restart) {
            ASSERT_TRUE(b.Start(nullptr));
        }
        EXPECT_TRUE(PollUntil([&] { return b.m_received.size() == 10u; }));
    }
}

// ---------------------------------------------------------------- process start

TEST(ProcessIOTest, SecondChildHoldsNoDescriptorOfTheFirst) {
    // A stray descriptor of the referee without close-on-exec must not leak either.
    int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    TestProcess first;
    TestProcess second;
    ASSERT_TRUE(first.Start(TestPlayer("pipe_echo").c_str()));
    ASSERT_TRUE(second.Start(TestPlayer("pipe_fds").c_str()));
    ASSERT_TRUE(PollUntil([&] { return EndsWith(second.m_received, "END\n"); }));
    close(stray);

    std::istringstream lines(second.m_received);
    std::vector<int> fds;
    std::vector<std::string> targets;
    int fd;
    std::string target;
    while (lines >> fd >> target) {
        fds.push_back(fd);
        targets.push_back(target);
    }
    ASSERT_EQ(fds, (std::vector<int>{0, 1, 2})) << second.m_received;
    EXPECT_EQ(targets[0], PipeName(second.WriteEnd()));
    EXPECT_EQ(targets[1], PipeName(second.ReadEnd()));
    EXPECT_EQ(targets[2], LinkTarget("/proc/self/fd/2")) << "standard error is the referee's";
    for (const std::string& t : targets) {
        EXPECT_NE(t, PipeName(first.ReadEnd()));
        EXPECT_NE(t, PipeName(first.WriteEnd()));
    }
}

struct WorkDirCase {
    const char* name;
    std::string workDir;
    std::string cmdLine;
    std::string expected;  // the child's directory
};

TEST(ProcessIOTest, ChildRunsInItsWorkingDirectory) {
    const std::string temp = RealPath(MakeTempDir("pipes-cwd"));
    const std::string players = RealPath(TESTPLAYER_DIR);
    const WorkDirCase cases[] = {
        {"own directory", "", TestPlayer("pipe_cwd"), CurrentDir()},
        {"absolute directory", temp, TestPlayer("pipe_cwd"), temp},
        {"program relative to the directory", players, "./pipe_cwd", players},
        // Tests run in build*/tests, beside build*/testplayers.
        {"directory relative to the referee's", "../testplayers", "./pipe_cwd", players},
    };
    const std::string ownDir = CurrentDir();
    for (const WorkDirCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestProcess p;
        p.SetWorkDir(c.workDir);
        ASSERT_TRUE(p.Start(c.cmdLine.c_str()));
        EXPECT_EQ(CurrentDir(), ownDir) << "the referee's directory never changes";
        ASSERT_TRUE(PollUntil([&] { return EndsWith(p.m_received, "\n"); }));
        EXPECT_EQ(p.m_received, c.expected + "\n");
    }
}

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::string> args;
};

TEST(ProcessIOTest, CommandLineSplitsAsOnTheOtherPlatform) {
    const SplitCase cases[] = {
        {"empty", "", {}},
        {"only blanks", " \t ", {}},
        {"blanks and tabs separate", "  prog a\tb   c ", {"prog", "a", "b", "c"}},
        {"quotes group", R"(prog "a b" c)", {"prog", "a b", "c"}},
        {"quotes inside a word", R"(prog a"b c"d)", {"prog", "ab cd"}},
        {"empty quoted argument", R"(prog "" x)", {"prog", "", "x"}},
        {"unterminated quote", R"(prog "a b)", {"prog", "a b"}},
        {"backslashes alone are literal", R"(prog a\\b c\)", {"prog", R"(a\\b)", R"(c\)"}},
        {"escaped quote", R"(prog a\"b)", {"prog", R"(a"b)"}},
        {"odd backslashes before a quote", R"(prog a\\\"b)", {"prog", R"(a\"b)"}},
        {"even backslashes before a quote", R"(prog a\\\\"b c")", {"prog", R"(a\\b c)"}},
        {"doubled quote inside quotes", R"(prog "a""b" c)", {"prog", R"(a"b)", "c"}},
        {"quoted program with a blank", R"("my dir/prog" x)", {"my dir/prog", "x"}},
        {"program keeps its backslashes", R"(dir\prog\ x)", {R"(dir\prog\)", "x"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(Platform::SplitCommandLine(c.line), c.args) << c.name;
    }
}

TEST(ProcessIOTest, LongCommandLineRunsWhole) {
    std::string cmdLine = TestPlayer("pipe_args");
    std::string expected;
    for (int i = 0; i < 30; ++i) {
        std::string arg = "argument" + std::to_string(i);
        cmdLine += " " + arg;
        expected += "[" + arg + "]\n";
    }
    const std::string longArg(300, 'x');
    cmdLine += " \"" + longArg + " y\"";
    expected += "[" + longArg + " y]\nEND\n";
    ASSERT_GT(cmdLine.size(), 600u);
    TestProcess p;
    ASSERT_TRUE(p.Start(cmdLine.c_str()));
    ASSERT_TRUE(PollUntil([&] { return EndsWith(p.m_received, "END\n"); }));
    EXPECT_EQ(p.m_received, expected);
}

struct CannotStartCase {
    const char* name;
    std::string workDir;
    std::string cmdLine;
    std::string message;
};

TEST(ProcessIOTest, ProgramThatCannotStartFailsAtOnceWithTheSystemText) {
    const std::string temp = MakeTempDir("pipes-nostart");
    const std::string notExecutable = temp + "/not_executable";
    WriteFile(notExecutable, "#!/bin/sh\necho hi\n");
    chmod(notExecutable.c_str(), 0644);
    const CannotStartCase cases[] = {
        {"missing program", "", TestPlayer("pipe_no_such_program"), "CreateProcess err: No such file or directory\n"},
        {"program not on the path", "", "pipe_no_such_program_on_path",
         "CreateProcess err: No such file or directory\n"},
        {"not executable", "", notExecutable, "CreateProcess err: Permission denied\n"},
        {"a directory", "", TESTPLAYER_DIR, "CreateProcess err: Permission denied\n"},
        {"empty command line", "", "", "CreateProcess err: No such file or directory\n"},
        {"missing working directory", temp + "/missing", TestPlayer("pipe_echo"),
         "SetCurrentDirectory err: No such file or directory\n"},
        {"relative program missing in the working directory", temp, "./pipe_echo",
         "CreateProcess err: No such file or directory\n"},
    };
    const int descriptorsBefore = OpenDescriptorCount();
    for (const CannotStartCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestProcess p;
        p.SetWorkDir(c.workDir);
        testing::internal::CaptureStderr();
        bool started = p.Start(c.cmdLine.c_str());
        ProcessIO::PostAsyncReadReq();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(started);
        EXPECT_EQ(err, c.message);
        EXPECT_EQ(p.m_iStarts, 0);
        EXPECT_EQ(p.ReadEnd(), Platform::INVALID_HANDLE_VALUE);
        EXPECT_EQ(p.WriteEnd(), Platform::INVALID_HANDLE_VALUE);
        EXPECT_EQ(p.Process(), Platform::INVALID_HANDLE_VALUE);
        EXPECT_EQ(p.m_iIoErrors, 0);
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore) << "a failed start leaks no pipe end";
}

TEST(ProcessIOTest, StopEndsTheChildAndClosesTheEnds) {
    TestProcess p;
    ASSERT_TRUE(p.Start(TestPlayer("pipe_echo").c_str()));
    const Platform::ProcessHandle pid = p.Process();
    p.Stop();
    EXPECT_EQ(kill(pid, 0), -1) << "killed and collected";
    EXPECT_EQ(p.ReadEnd(), Platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(p.WriteEnd(), Platform::INVALID_HANDLE_VALUE);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(p.WriteToProcess("x", 1));
    ProcessIO::PostAsyncReadReq();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WriteFile err. Bad file descriptor\n");
    EXPECT_EQ(p.m_iIoErrors, 0);
    p.Stop();  // a second stop kills nothing
}

// ---------------------------------------------------------------- writes

TEST(ProcessIOTest, WriteToChildThatClosedItsInputIsRefused) {
    TestProcess p;
    ASSERT_TRUE(p.Start(TestPlayer("pipe_close").c_str()));
    testing::internal::CaptureStderr();
    // It closes its input before its output: end of output means both are shut.
    bool closed = PollUntil([&] { return p.m_iIoErrors >= 1; });
    bool accepted = closed && p.WriteToProcess("BLUE\nOK\n", 8);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(closed);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(err, "ReadFileEx err. Broken pipe\nWriteFile err. Broken pipe\n");
}

TEST(ProcessIOTest, LargeWriteToSlowReaderArrivesWholeAndInOrder) {
    const size_t total = 1 << 20;
    std::string data(total, '\0');
    for (size_t i = 0; i < total; ++i) data[i] = static_cast<char>((i * 131 + i / 997) & 0xFF);
    TestProcess p;
    ASSERT_TRUE(p.Start((TestPlayer("pipe_echo") + " -d 200").c_str()));
    testing::internal::CaptureStderr();
    bool accepted = p.WriteToProcess(data.data(), static_cast<uint32_t>(total));
    data[0] ^= 1;  // the caller's buffer is free at once
    bool arrived = PollUntil([&] { return p.m_received.size() >= total; }, 60.0);
    for (int i = 0; i < 3; ++i) ProcessIO::PostAsyncReadReq();
    std::string err = testing::internal::GetCapturedStderr();
    data[0] ^= 1;
    EXPECT_TRUE(accepted);
    ASSERT_TRUE(arrived);
    EXPECT_EQ(p.m_received.size(), total);
    EXPECT_TRUE(p.m_received == data) << "bytes out of order or altered";
    EXPECT_EQ(err, "");
}

TEST(ProcessIOTest, WriteCutOffByTheChildLogsTheShortWrite) {
    TestProcess p;
    ASSERT_TRUE(p.Start((TestPlayer("pipe_echo") + " -s -n 1000").c_str()));
    const std::string data(1 << 20, 'z');
    testing::internal::CaptureStderr();
    bool accepted = p.WriteToProcess(data.data(), static_cast<uint32_t>(data.size()));
    bool ended = PollUntil([&] { return p.m_iIoErrors >= 1; });
    ProcessIO::PostAsyncReadReq();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(accepted);
    ASSERT_TRUE(ended);
    const std::string head = "|Write err:32, len ";
    size_t at = err.find(head);
    ASSERT_NE(at, std::string::npos) << err;
    size_t end = 0;
    unsigned long written = std::stoul(err.substr(at + head.size()), &end);
    EXPECT_EQ(err.compare(at + head.size() + end, 15, ": need 1048576\n"), 0) << err;
    EXPECT_GE(written, 1000u);
    EXPECT_LT(written, 1048576u);
}

// ---------------------------------------------------------------- the platform's write queue

struct WriteLog {
    std::vector<uint32_t> errors;
    std::vector<uint32_t> bytes;
    std::vector<Platform::IoRecord*> records;
};
WriteLog g_writeLog;

void RecordWrite(uint32_t error, uint32_t bytes, Platform::IoRecord* record) {
    g_writeLog.errors.push_back(error);
    g_writeLog.bytes.push_back(bytes);
    g_writeLog.records.push_back(record);
}

std::string ReadAvailable(int fd) {
    std::string got;
    char buf[65536];
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

// The writes of one pipe complete in order, each only once wholly written.
TEST(ProcessIOTest, UnfinishedWritesGoOnInOrderAndCompleteWhenWritten) {
    g_writeLog = WriteLog();
    Platform::PipeHandle ours, theirs;
    ASSERT_TRUE(Platform::CreatePipe(Platform::PipeDirection::TO_CHILD, ours, theirs));
    const std::string big(1 << 20, 'a');
    const std::string small = "bcd";
    Platform::IoRecord first, second;
    ASSERT_TRUE(Platform::WritePipeAsync(ours, big.data(), static_cast<uint32_t>(big.size()), &first, RecordWrite));
    ASSERT_TRUE(Platform::WritePipeAsync(ours, small.data(), 3, &second, RecordWrite));
    Platform::RunDueCompletions();
    EXPECT_TRUE(g_writeLog.records.empty()) << "nothing is complete while the pipe is full";
    std::string got;
    for (int i = 0; i < 1000 && g_writeLog.records.size() < 2; ++i) {
        got += ReadAvailable(theirs);
        Platform::RunDueCompletions();
    }
    got += ReadAvailable(theirs);
    ASSERT_EQ(g_writeLog.records, (std::vector<Platform::IoRecord*>{&first, &second}));
    EXPECT_EQ(g_writeLog.errors, (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(g_writeLog.bytes, (std::vector<uint32_t>{1u << 20, 3}));
    EXPECT_TRUE(got == big + small);

    // Closing the pipe ends what is still unfinished.
    g_writeLog = WriteLog();
    ASSERT_TRUE(Platform::WritePipeAsync(ours, big.data(), static_cast<uint32_t>(big.size()), &first, RecordWrite));
    Platform::ClosePipe(ours);
    Platform::RunDueCompletions();
    ASSERT_EQ(g_writeLog.records.size(), 1u);
    EXPECT_EQ(g_writeLog.errors[0], static_cast<uint32_t>(ECANCELED));
    EXPECT_LT(g_writeLog.bytes[0], 1u << 20);
    Platform::ClosePipe(theirs);
}

}  // namespace
