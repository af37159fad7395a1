#include "Log.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "World.h"

int g_logLevel = LOG_LEVEL_INFO;

namespace {

struct LevelName {
    const char* name;
    int level;
};

// Searched in this order; the first whole, case-sensitive match wins.
const LevelName LEVEL_NAMES[] = {
    {"DBG", LOG_LEVEL_DBG}, {"INFO", LOG_LEVEL_INFO},     {"WARN", LOG_LEVEL_WARN},
    {"ERR", LOG_LEVEL_ERR}, {"ASSERT", LOG_LEVEL_ASSERT}, {"NONE", LOG_LEVEL_NONE},
};

const char* LevelTag(int level) {
    switch (level) {
        case LOG_LEVEL_ASSERT: return "ASSERT";
        case LOG_LEVEL_ERR: return "ERR";
        case LOG_LEVEL_WARN: return "WARN";
        case LOG_LEVEL_INFO: return "INFO";
        case LOG_LEVEL_DBG: return "DBG";
        default: return "NONE";
    }
}

}  // namespace

int LogLevelFromName(const char* name) {
    for (const LevelName& entry : LEVEL_NAMES) {
        if (strcmp(entry.name, name) == 0) return entry.level;
    }
    return -1;
}

void QualifiedFunctionName(const char* prettyFunction, char* out, unsigned outSize) {
    // The name ends at the parameter list's '(' and starts after the last
    // blank before it that is not inside template brackets of the return type.
    const char* paren = strchr(prettyFunction, '(');
    const char* end = paren ? paren : prettyFunction + strlen(prettyFunction);
    const char* begin = prettyFunction;
    int depth = 0;
    for (const char* p = prettyFunction; p < end; ++p) {
        if (*p == '<') ++depth;
        else if (*p == '>') --depth;
        else if (*p == ' ' && depth == 0) begin = p + 1;
    }
    // Names in an unnamed namespace read as the plain name.
    static const char ANONYMOUS[] = "{anonymous}::";
    if (strncmp(begin, ANONYMOUS, sizeof ANONYMOUS - 1) == 0) begin += sizeof ANONYMOUS - 1;
    size_t len = static_cast<size_t>(end - begin);
    if (outSize == 0) return;
    if (len >= outSize) len = outSize - 1;
    memcpy(out, begin, len);
    out[len] = '\0';
}

namespace {

constexpr size_t PREFIX_SIZE = 1024;
// Most lines fit here; a longer one gets a buffer made to measure.
constexpr size_t STACK_LINE_SIZE = 8192;

// "[TAG]file:line|Class::Function|frame[N]|" into out; its length.
size_t FormatPrefix(char (&out)[PREFIX_SIZE], int level, const char* file, int line, const char* prettyFunction) {
    char func[256];
    QualifiedFunctionName(prettyFunction, func, sizeof func);
    const int n = snprintf(out, sizeof out, "[%s]%s:%d|%s|frame[%d]|", LevelTag(level), file, line, func,
                           GetCurrentFrame());
    if (n < 0) return 0;
    return static_cast<size_t>(n) < sizeof out ? static_cast<size_t>(n) : sizeof out - 1;
}

// The prefix and then the message into buf, as far as they fit; the whole
// line's length, which may exceed what fitted, or -1.
long ComposeLine(char* buf, size_t size, const char* prefix, size_t prefixLen, const char* fmt, va_list args) {
    if (size <= prefixLen) return -1;
    memcpy(buf, prefix, prefixLen);
    const int messageLen = vsnprintf(buf + prefixLen, size - prefixLen, fmt, args);
    return messageLen < 0 ? -1 : static_cast<long>(prefixLen) + messageLen;
}

// One write for the whole line, so that lines of different threads do not interleave.
void WriteLine(const char* text, size_t len) {
    fwrite(text, 1, len, stderr);
    fflush(stderr);
}

// A line longer than the stack buffer, formatted again into a buffer made to
// measure.  Without one it is cut to what the stack buffer holds, and the
// cut line still ends with its line feed, so that the next line starts on a
// line of its own.
void WriteLongLine(char (&cut)[STACK_LINE_SIZE], size_t len, const char* prefix, size_t prefixLen, const char* fmt,
                   va_list args) {
    char* whole = static_cast<char*>(malloc(len + 1));
    if (whole && ComposeLine(whole, len + 1, prefix, prefixLen, fmt, args) == static_cast<long>(len)) {
        WriteLine(whole, len);
    } else {
        cut[sizeof cut - 2] = '\n';
        WriteLine(cut, sizeof cut - 1);
    }
    free(whole);
}

}  // namespace

void LogWrite(int level, const char* file, int line, const char* prettyFunction, const char* fmt, ...) {
    char prefix[PREFIX_SIZE];
    const size_t prefixLen = FormatPrefix(prefix, level, file, line, prettyFunction);
    char buf[STACK_LINE_SIZE];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const long len = ComposeLine(buf, sizeof buf, prefix, prefixLen, fmt, args);
    if (len >= 0 && static_cast<size_t>(len) < sizeof buf) {
        WriteLine(buf, static_cast<size_t>(len));
    } else if (len >= 0) {
        WriteLongLine(buf, static_cast<size_t>(len), prefix, prefixLen, fmt, again);
    }
    va_end(again);
    va_end(args);
}

void FatalAssert(const char* expr, const char* file, int line, const char* prettyFunction) {
    char func[256];
    QualifiedFunctionName(prettyFunction, func, sizeof func);
    fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, func, expr);
    fflush(stderr);
    abort();
}
