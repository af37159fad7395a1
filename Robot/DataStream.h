// The text builder of one frame message.
//
// Threads: each Player owns one; it is used only by the thread that owns the
// player at the time (the game thread during the match).
#pragma once

#include <box2d/box2d.h>

#include <cstddef>
#include <cstdint>

class DataStream {
public:
    static constexpr int64_t BUF_SIZE = 131072;

    DataStream() : m_pCur(m_buf) {}

    // Starts a new text at the beginning of the buffer.
    void Reset();

    // Each Add writes one field at the cursor and then sep, unless sep is
    // '\0'.  Whole numbers as "%d"; decimals as "%.10g" of the value widened
    // to double.  A non-finite decimal logs a failed check and is written
    // as formatted.  A field that does not fit in the rest of the buffer is
    // not written (nor is anything after it): the text stays a clean prefix
    // and GetRemainSize() turns negative by the bytes that did not fit.
    void AddInt(int32_t iVal, char sep);
    void AddFloat(float fVal, char sep);
    // "%.10g %.10g" of x and y, then sep.
    void AddVec(const b2Vec2& stVec, char sep);
    void AddChar(char c);
    // Appends text formatted earlier, when all of it fits; false (and
    // nothing written) otherwise, so that the caller can add the fields one
    // by one and keep the clean-prefix rule.
    bool AddText(const char* text, size_t len);

    // The most a decimal and its separator take.
    static constexpr size_t MAX_DECIMAL_FIELD = 33;
    // The decimals of values, each followed by a blank and the last by a
    // new line, as AddFloat writes them (without the check of each value);
    // out has room for MAX_DECIMAL_FIELD bytes per value.  Returns the end.
    // Any thread.
    static char* WriteDecimalLine(char* out, const float* values, size_t count);

    // Bytes left between the cursor and the end of the buffer, less the
    // bytes that did not fit; negative once the text has outgrown the buffer.
    int64_t GetRemainSize() const { return (m_buf + BUF_SIZE - m_pCur) - m_iLost; }

    const char* GetData() const { return m_buf; }
    uint32_t GetSize() const { return static_cast<uint32_t>(m_pCur - m_buf); }

private:
    // Where a field of at most MAX_FIELD bytes is formatted: straight at the
    // cursor while there is room for any field, else the scratch area.
    char* FieldStart(char* scratch);
    // Takes the field formatted at [start, end) into the text.
    void Commit(char* start, char* end);
    static char* WriteDecimal(char* out, float fVal);

    static constexpr int64_t MAX_FIELD = 64;

    char* m_pCur;
    char m_buf[BUF_SIZE];
    int64_t m_iLost = 0;  // bytes of fields that did not fit
};
