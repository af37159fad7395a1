// Small helpers shared by the unit tests: float bit patterns and log lines
// captured from standard error.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "Log.h"
#include "World.h"

inline uint32_t FloatBits(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float BitsFloat(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

// Log lines written while it lives, at the given level; the line numbers of
// the source read "L", so that whole lines can be compared.
class LogCapture {
public:
    explicit LogCapture(int level = LOG_LEVEL_INFO) : m_savedLevel(g_logLevel) {
        g_logLevel = level;
        testing::internal::CaptureStderr();
    }
    ~LogCapture() {
        if (!m_bTaken) testing::internal::GetCapturedStderr();
        g_logLevel = m_savedLevel;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string Take() {
        m_bTaken = true;
        return WithoutLineNumbers(testing::internal::GetCapturedStderr());
    }

    // ".cpp:123|" becomes ".cpp:L|".
    static std::string WithoutLineNumbers(const std::string& text) {
        static const std::string s_marker = ".cpp:";
        std::string out;
        size_t from = 0;
        for (size_t at; (at = text.find(s_marker, from)) != std::string::npos;) {
            size_t end = at + s_marker.size();
            while (end < text.size() && isdigit(static_cast<unsigned char>(text[end]))) ++end;
            const bool isLineNumber = end > at + s_marker.size() && end < text.size() && text[end] == '|';
            out.append(text, from, at + s_marker.size() - from);
            if (isLineNumber) out += 'L';
            from = isLineNumber ? end : at + s_marker.size();
        }
        out.append(text, from, std::string::npos);
        return out;
    }

private:
    int m_savedLevel;
    bool m_bTaken = false;
};

// One log line as written in the current frame: [TAG]file:L|function|frame[N]|message.
inline std::string ExpectedLogLine(const char* tag, const char* file, const char* function,
                                   const std::string& message) {
    return std::string("[") + tag + "]" + file + ":L|" + function + "|frame[" + std::to_string(GetCurrentFrame()) +
           "]|" + message;
}
