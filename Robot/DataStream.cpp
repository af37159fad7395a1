#include "DataStream.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "Log.h"

namespace {

// "%.10g" of a float widened to double, as printf writes it: ten
// significant digits rounded half to even from the exact binary value,
// trailing zeros dropped, fixed notation for decimal exponents -4 to 9 and
// "d.ddde+XX" otherwise.  Every float from 1e-22 up to 1e10 (what a
// frame message normally carries) is converted here with exact integer
// arithmetic; the rest, zero aside, goes to std::to_chars, whose general
// format with a precision is specified as printf's.
using uint128 = unsigned __int128;

constexpr int PRECISION = 10;
constexpr uint64_t TEN_DIGITS_MIN = 1000000000ull;   // 10^9
constexpr uint64_t TEN_DIGITS_END = 10000000000ull;  // 10^10
constexpr int MAX_SCALE = 31;                        // m * 10^31 < 2^24 * 2^103 fits 128 bits
constexpr int MIN_BINARY_EXP = -127;                 // shifts stay below 128 bits
constexpr int MAX_BINARY_EXP = 10;                   // m * 2^10 < 1.8e10

struct Pow10Table {
    uint128 v[MAX_SCALE + 1];
    constexpr Pow10Table() : v() {
        uint128 p = 1;
        for (uint128& entry : v) {
            entry = p;
            p *= 10;
        }
    }
};
constexpr Pow10Table POW10;

struct DigitPairs {
    char c[200];
    constexpr DigitPairs() : c() {
        for (int i = 0; i < 100; ++i) {
            c[2 * i] = static_cast<char>('0' + i / 10);
            c[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs DIGIT_PAIRS;

// The value m * 2^q (m < 2^24) as ten digits and a decimal exponent x, so
// that it rounds to digits * 10^(x - 9).  False outside the exact range.
bool TenDigits(uint32_t m, int q, uint64_t* digits, int* exp10) {
    // floor((q + 23) * log10(2)): the exponent, or one below it.
    int x = ((q + 23) * 78913) >> 18;
    for (;;) {
        const int k = PRECISION - 1 - x;
        if (k < 0 || k > MAX_SCALE) return false;
        const uint128 num = static_cast<uint128>(m) * POW10.v[k];
        uint128 quot = q >= 0 ? num << q : num >> -q;
        if (quot >= TEN_DIGITS_END) {
            ++x;
            continue;
        }
        if (q < 0) {
            const uint128 rest = num - (quot << -q);
            const uint128 half = static_cast<uint128>(1) << (-q - 1);
            if (rest > half || (rest == half && (quot & 1) != 0)) ++quot;
        }
        if (quot == TEN_DIGITS_END) {
            quot = TEN_DIGITS_MIN;
            ++x;
        }
        *digits = static_cast<uint64_t>(quot);
        *exp10 = x;
        return true;
    }
}

// Ten digits without their trailing zeros, as text; returns the count.
int SignificantDigits(uint64_t digits, char out[PRECISION]) {
    int count = PRECISION;
    while (digits % 100 == 0) {
        digits /= 100;
        count -= 2;
    }
    if (digits % 10 == 0) {
        digits /= 10;
        --count;
    }
    int i = count;
    for (; i > 1; i -= 2) {
        memcpy(out + i - 2, DIGIT_PAIRS.c + 2 * (digits % 100), 2);
        digits /= 100;
    }
    if (i == 1) out[0] = static_cast<char>('0' + digits);
    return count;
}

char* WriteFixed(char* out, const char* digits, int count, int x) {
    if (x < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = -1; i > x; --i) *out++ = '0';
        memcpy(out, digits, static_cast<size_t>(count));
        return out + count;
    }
    const int whole = x + 1;
    if (count <= whole) {
        memcpy(out, digits, static_cast<size_t>(count));
        out += count;
        for (int i = count; i < whole; ++i) *out++ = '0';
        return out;
    }
    memcpy(out, digits, static_cast<size_t>(whole));
    out += whole;
    *out++ = '.';
    memcpy(out, digits + whole, static_cast<size_t>(count - whole));
    return out + (count - whole);
}

char* WriteExponential(char* out, const char* digits, int count, int x) {
    *out++ = digits[0];
    if (count > 1) {
        *out++ = '.';
        memcpy(out, digits + 1, static_cast<size_t>(count - 1));
        out += count - 1;
    }
    *out++ = 'e';
    *out++ = x < 0 ? '-' : '+';
    const int magnitude = x < 0 ? -x : x;  // below 100 within the exact range
    memcpy(out, DIGIT_PAIRS.c + 2 * magnitude, 2);
    return out + 2;
}

}  // namespace

char* DataStream::WriteDecimalLine(char* out, const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out = WriteDecimal(out, values[i]);
        *out++ = i + 1 == count ? '\n' : ' ';
    }
    return out;
}

char* DataStream::WriteDecimal(char* out, float fVal) {
    uint32_t bits;
    memcpy(&bits, &fVal, sizeof bits);
    const int biased = static_cast<int>((bits >> 23) & 0xFFu);
    const uint32_t fraction = bits & 0x7FFFFFu;
    if (biased == 0 && fraction == 0) {
        if ((bits >> 31) != 0) *out++ = '-';
        *out++ = '0';
        return out;
    }
    const int q = biased - 150;
    uint64_t tenDigits;
    int x;
    if (biased == 0 || biased == 0xFF || q < MIN_BINARY_EXP || q > MAX_BINARY_EXP ||
        !TenDigits(fraction | 0x800000u, q, &tenDigits, &x)) {
        // The longest "%.10g" of a double is 17 characters ("-1.234567891e-308").
        return std::to_chars(out, out + (MAX_DECIMAL_FIELD - 1), static_cast<double>(fVal), std::chars_format::general, PRECISION).ptr;
    }
    char digits[PRECISION];
    const int count = SignificantDigits(tenDigits, digits);
    if ((bits >> 31) != 0) *out++ = '-';
    if (x >= -4 && x < PRECISION) return WriteFixed(out, digits, count, x);
    return WriteExponential(out, digits, count, x);
}

void DataStream::Reset() {
    m_pCur = m_buf;
    m_iLost = 0;
}

char* DataStream::FieldStart(char* scratch) {
    if (m_iLost == 0 && (m_buf + BUF_SIZE) - m_pCur >= MAX_FIELD) return m_pCur;
    return scratch;
}

void DataStream::Commit(char* start, char* end) {
    const int64_t len = end - start;
    if (start == m_pCur) {
        m_pCur = end;
        return;
    }
    if (m_iLost == 0 && (m_buf + BUF_SIZE) - m_pCur >= len) {
        memcpy(m_pCur, start, static_cast<size_t>(len));
        m_pCur += len;
        return;
    }
    m_iLost += len;
}

void DataStream::AddInt(int32_t iVal, char sep) {
    char scratch[MAX_FIELD];
    char* start = FieldStart(scratch);
    char* end = std::to_chars(start, start + 16, iVal).ptr;
    if (sep != '\0') *end++ = sep;
    Commit(start, end);
}

void DataStream::AddFloat(float fVal, char sep) {
    using std::isfinite;
    SOFT_ASSERT(isfinite(fVal));
    char scratch[MAX_FIELD];
    char* start = FieldStart(scratch);
    char* end = WriteDecimal(start, fVal);
    if (sep != '\0') *end++ = sep;
    Commit(start, end);
}

void DataStream::AddVec(const b2Vec2& stVec, char sep) {
    using std::isfinite;
    SOFT_ASSERT(isfinite(stVec.x));
    SOFT_ASSERT(isfinite(stVec.y));
    char scratch[MAX_FIELD];
    char* start = FieldStart(scratch);
    char* end = WriteDecimal(start, stVec.x);
    *end++ = ' ';
    end = WriteDecimal(end, stVec.y);
    if (sep != '\0') *end++ = sep;
    Commit(start, end);
}

void DataStream::AddChar(char c) {
    char scratch[MAX_FIELD];
    char* start = FieldStart(scratch);
    *start = c;
    Commit(start, start + 1);
}

bool DataStream::AddText(const char* text, size_t len) {
    if (m_iLost != 0 || static_cast<size_t>((m_buf + BUF_SIZE) - m_pCur) < len) return false;
    memcpy(m_pCur, text, len);
    m_pCur += len;
    return true;
}
