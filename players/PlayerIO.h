// The player's side of the referee protocol, shared by our own player
// programs: reading the start text and the frame messages from standard
// input, and writing answers to standard output.
//
// Standard library and POSIX only, header only, so that every player stays a
// single standalone program.  Single-threaded: one reader per program, used
// from its main loop.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace playerio {

// Lines of standard input, read in large chunks.  A line is handed out
// without its "\n" or "\r\n"; the text stays valid until the next call.
class LineReader {
public:
    explicit LineReader(int fd = 0) : m_fd(fd) {}

    // False at the end of the input (a last line without "\n" is still
    // handed out first).
    bool ReadLine(const char*& text, size_t& len) {
        for (;;) {
            const char* begin = m_buf.data() + m_pos;
            const char* nl = static_cast<const char*>(memchr(begin, '\n', m_end - m_pos));
            if (nl) {
                size_t n = nl - begin;
                m_pos += n + 1;
                Hand(begin, n, text, len);
                return true;
            }
            if (!Fill()) {
                if (m_end == m_pos) return false;
                begin = m_buf.data() + m_pos;
                size_t n = m_end - m_pos;
                m_pos = m_end;
                Hand(begin, n, text, len);
                return true;
            }
        }
    }

private:
    static void Hand(const char* begin, size_t n, const char*& text, size_t& len) {
        if (n > 0 && begin[n - 1] == '\r') --n;
        text = begin;
        len = n;
    }

    // Moves the unread rest to the front and reads more; false at the end.
    bool Fill() {
        if (m_eof) return false;
        if (m_pos > 0) {
            memmove(m_buf.data(), m_buf.data() + m_pos, m_end - m_pos);
            m_end -= m_pos;
            m_pos = 0;
        }
        if (m_buf.size() - m_end < 65536) m_buf.resize(m_buf.size() + 65536);
        for (;;) {
            ssize_t got = read(m_fd, m_buf.data() + m_end, m_buf.size() - m_end);
            if (got > 0) {
                m_end += static_cast<size_t>(got);
                return true;
            }
            if (got < 0 && errno == EINTR) continue;
            m_eof = true;
            return false;
        }
    }

    int m_fd;
    std::vector<char> m_buf = std::vector<char>(131072);
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_eof = false;
};

inline bool IsOk(const char* text, size_t len) { return len == 2 && text[0] == 'O' && text[1] == 'K'; }

// Writes everything; false when standard output is gone.
inline bool WriteAll(const char* data, size_t len, int fd = 1) {
    while (len > 0) {
        ssize_t put = write(fd, data, len);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        len -= static_cast<size_t>(put);
    }
    return true;
}
inline bool WriteAll(const std::string& text, int fd = 1) { return WriteAll(text.data(), text.size(), fd); }

// Reads the start text up to its "OK": 0 for "BLUE" (player 1), 1 for "RED"
// (player 2), -1 when the input ends first.
inline int ReadStart(LineReader& in) {
    int side = 0;
    const char* text;
    size_t len;
    while (in.ReadLine(text, len)) {
        if (IsOk(text, len)) return side;
        if (len == 3 && memcmp(text, "RED", 3) == 0) side = 1;
    }
    return -1;
}

// Skips a frame message up to its "OK", keeping the frame number of its
// first line; false when the input ends first.
inline bool ReadFrameNumber(LineReader& in, int& frame) {
    const char* text;
    size_t len;
    bool first = true;
    while (in.ReadLine(text, len)) {
        if (IsOk(text, len)) return true;
        if (first) frame = atoi(std::string(text, len).c_str());
        first = false;
    }
    return false;
}

struct WorkbenchLine {
    int type = 0;
    float x = 0, y = 0;
    int remain = -1;
    int haveMask = 0;
    int ready = 0;
};

struct RobotLine {
    int nearIdx = -1;
    int product = 0;
    float timeRate = 0, impactRate = 0;
    float omega = 0, vx = 0, vy = 0;
    float heading = 0, x = 0, y = 0;
};

struct FrameMessage {
    int frame = 0;
    int money = 0;
    std::vector<WorkbenchLine> workbenches;
    RobotLine robots[4];
    std::vector<float> lidar[4];  // empty when the message carried no lidar line for the robot
};

// A number as a whole number, clamped so that absurd values stay harmless.
inline int ToInt(double v) {
    if (!(v > -1e9)) return v < 0 ? -1000000000 : 0;  // NaN reads as 0
    return v < 1e9 ? static_cast<int>(v) : 1000000000;
}

// Up to max numbers of one line, as doubles; the count read.
inline int ParseNumbers(const char* text, size_t len, double* out, int max) {
    std::string line(text, len);
    const char* p = line.c_str();
    int n = 0;
    while (n < max) {
        char* end;
        double v = strtod(p, &end);
        if (end == p) break;
        out[n++] = v;
        p = end;
    }
    return n;
}

inline void ParseFloats(const char* text, size_t len, std::vector<float>& out) {
    out.clear();
    const char* p = text;
    const char* end = text + len;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p == end) break;
        float v;
        std::from_chars_result got = std::from_chars(p, end, v);
        if (got.ec != std::errc() || got.ptr == p) break;
        out.push_back(v);
        p = got.ptr;
    }
}

// Reads one whole frame message up to its "OK".  Lines that are missing or
// short leave the defaults; false when the input ends first.
inline bool ReadFrame(LineReader& in, FrameMessage& msg) {
    const char* text;
    size_t len;
    int lineNo = 0;
    int workbenchCount = 0;
    int lidarLines = 0;
    double v[10];
    msg.workbenches.clear();
    for (int r = 0; r < 4; ++r) {
        msg.robots[r] = RobotLine();
        msg.lidar[r].clear();
    }
    while (in.ReadLine(text, len)) {
        if (IsOk(text, len)) return true;
        if (lineNo == 0) {
            int n = ParseNumbers(text, len, v, 2);
            msg.frame = n > 0 ? ToInt(v[0]) : 0;
            msg.money = n > 1 ? ToInt(v[1]) : 0;
        } else if (lineNo == 1) {
            workbenchCount = ParseNumbers(text, len, v, 1) == 1 ? ToInt(v[0]) : 0;
            if (workbenchCount < 0 || workbenchCount > 1000) workbenchCount = 0;
        } else if (lineNo < 2 + workbenchCount) {
            WorkbenchLine w;
            int n = ParseNumbers(text, len, v, 6);
            if (n > 0) w.type = ToInt(v[0]);
            if (n > 2) { w.x = static_cast<float>(v[1]); w.y = static_cast<float>(v[2]); }
            if (n > 3) w.remain = ToInt(v[3]);
            if (n > 4) w.haveMask = ToInt(v[4]);
            if (n > 5) w.ready = ToInt(v[5]);
            msg.workbenches.push_back(w);
        } else if (lineNo < 6 + workbenchCount) {
            RobotLine& r = msg.robots[lineNo - 2 - workbenchCount];
            int n = ParseNumbers(text, len, v, 10);
            if (n == 10) {
                r.nearIdx = ToInt(v[0]);
                r.product = ToInt(v[1]);
                r.timeRate = static_cast<float>(v[2]);
                r.impactRate = static_cast<float>(v[3]);
                r.omega = static_cast<float>(v[4]);
                r.vx = static_cast<float>(v[5]);
                r.vy = static_cast<float>(v[6]);
                r.heading = static_cast<float>(v[7]);
                r.x = static_cast<float>(v[8]);
                r.y = static_cast<float>(v[9]);
            }
        } else if (lidarLines < 4) {
            ParseFloats(text, len, msg.lidar[lidarLines++]);
        }
        ++lineNo;
    }
    return false;
}

// A frame answer under construction: the frame line, commands, "OK".
class Answer {
public:
    void Begin(int frame) {
        m_text.clear();
        m_text += std::to_string(frame);
        m_text += '\n';
    }
    void Command(const char* word, int robot) {
        m_text += word;
        m_text += ' ';
        m_text += std::to_string(robot);
        m_text += '\n';
    }
    void Command(const char* word, int robot, double value) {
        if (!std::isfinite(value)) value = 0;
        char buf[64];
        snprintf(buf, sizeof buf, " %d %.4f\n", robot, value);
        m_text += word;  // whole, however long
        m_text += buf;
    }
    bool Send() {
        m_text += "OK\n";
        return WriteAll(m_text);
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

// The whole life of a player that needs only the frame numbers: the
// handshake, then one answer per frame message, filled in by
// addCommands(frame, answer), until the input ends or the output is gone.
template <class AddCommands>
int ServeFrameNumbers(AddCommands addCommands) {
    LineReader in;
    if (ReadStart(in) < 0 || !WriteAll("OK\n")) return 0;
    Answer answer;
    int frame = 0;
    while (ReadFrameNumber(in, frame)) {
        answer.Begin(frame);
        addCommands(frame, answer);
        if (!answer.Send()) return 0;
    }
    return 0;
}

}  // namespace playerio
