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

void LogWrite(int level, const char* file, int line, const char* prettyFunction, const char* fmt, ...) {
    // One buffer and one write, so that lines of different threads do not interleave.
    char buf[8192];
    char func[256];
    QualifiedFunctionName(prettyFunction, func, sizeof func);
    int n = snprintf(buf, sizeof buf, "[%s]%s:%d|%s|frame[%d]|", LevelTag(level), file, line, func,
                     GetCurrentFrame());
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buf) {
        va_list args;
        va_start(args, fmt);
        int m = vsnprintf(buf + n, sizeof buf - n, fmt, args);
        va_end(args);
        if (m > 0) n += m;
    }
    if (static_cast<size_t>(n) >= sizeof buf) n = sizeof buf - 1;
    fwrite(buf, 1, static_cast<size_t>(n), stderr);
    fflush(stderr);
}

void FatalAssert(const char* expr, const char* file, int line, const char* prettyFunction) {
    char func[256];
    QualifiedFunctionName(prettyFunction, func, sizeof func);
    fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, func, expr);
    fflush(stderr);
    abort();
}
