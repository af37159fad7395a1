// Log lines and checks.
//
// A log line goes to standard error when g_logLevel is at least the line's
// level:  [TAG]Robot/File.cpp:LINE|Class::Function|frame[N]|message
// Every message format carries its own line feed.  Any thread may log; the
// frame number is read from the game's world without a lock.
#pragma once

#include <cstdio>

enum LogLevel {
    LOG_LEVEL_NONE = 0,
    LOG_LEVEL_ASSERT = 1,
    LOG_LEVEL_ERR = 2,
    LOG_LEVEL_WARN = 3,
    LOG_LEVEL_INFO = 4,
    LOG_LEVEL_DBG = 5,
};

// Set once from the command line (-l) before any other thread exists.
extern int g_logLevel;

// Maps a level name ("DBG" ... "NONE") to its level; -1 for any other text.
int LogLevelFromName(const char* name);

// Writes one line with its prefix, whole however long the message, in one
// write.  prettyFunction is the compiler's __PRETTY_FUNCTION__, from which
// the qualified name is taken, or a qualified name itself.
void LogWrite(int level, const char* file, int line, const char* prettyFunction, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// "void Game::Run(int, char**)" -> "Game::Run"; a free function keeps its plain name.
void QualifiedFunctionName(const char* prettyFunction, char* out, unsigned outSize);

// Reports a broken internal invariant and stops the program.
[[noreturn]] void FatalAssert(const char* expr, const char* file, int line, const char* prettyFunction);

#define LOG_AT(level, ...)                                                        \
    do {                                                                          \
        if (g_logLevel >= (level))                                                \
            LogWrite((level), __FILE__, __LINE__, __PRETTY_FUNCTION__, __VA_ARGS__); \
    } while (0)

// A line under the qualified name given instead of the enclosing
// function's: for a step whose lines carry the step's name although a
// helper of it writes them.
#define LOG_AT_AS(level, functionName, ...)                                      \
    do {                                                                         \
        if (g_logLevel >= (level))                                               \
            LogWrite((level), __FILE__, __LINE__, (functionName), __VA_ARGS__);  \
    } while (0)

#define LOG_DBG(...) LOG_AT(LOG_LEVEL_DBG, __VA_ARGS__)
#define LOG_INFO(...) LOG_AT(LOG_LEVEL_INFO, __VA_ARGS__)
#define LOG_WARN(...) LOG_AT(LOG_LEVEL_WARN, __VA_ARGS__)
#define LOG_ERR(...) LOG_AT(LOG_LEVEL_ERR, __VA_ARGS__)

// Soft check: logs "assert "<expr>" failed" at ASSERT and goes on.
#define SOFT_ASSERT(expr)                                          \
    do {                                                           \
        if (!(expr))                                               \
            LOG_AT(LOG_LEVEL_ASSERT, "assert \"%s\" failed\n", #expr); \
    } while (0)

// The soft check's line for an expression that was tested elsewhere.
#define LOG_ASSERT_FAILED(exprText) LOG_AT(LOG_LEVEL_ASSERT, "assert \"%s\" failed\n", exprText)

// Hard check: a broken invariant stops the program, in every build type.
#define HARD_ASSERT(expr)                                                  \
    do {                                                                   \
        if (!(expr))                                                       \
            FatalAssert(#expr, __FILE__, __LINE__, __PRETTY_FUNCTION__);   \
    } while (0)
