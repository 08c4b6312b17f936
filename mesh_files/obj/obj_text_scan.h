// Character classes and number readers of the OBJ parser. Works on a text buffer that ends
// with a line feed, so scanning a line never needs a length check. Never allocates except
// when a value needs the slow, general conversion.
#pragma once
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

enum : uint8_t { kObjText = 0, kObjBlank = 1, kObjEndOfLine = 2, kObjNul = 3 };

// Tokens are split at blank, tab, carriage return and line feed. A NUL byte ends the line's
// text, as it would for a line read into a C string.
inline constexpr std::array<uint8_t, 256> kObjCharClass = [] {
    std::array<uint8_t, 256> table{};
    table[static_cast<unsigned char>(' ')] = kObjBlank;
    table[static_cast<unsigned char>('\t')] = kObjBlank;
    table[static_cast<unsigned char>('\r')] = kObjBlank;
    table[static_cast<unsigned char>('\n')] = kObjEndOfLine;
    table[0] = kObjNul;
    return table;
}();

inline uint8_t obj_class(char c) { return kObjCharClass[static_cast<unsigned char>(c)]; }
inline bool obj_is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The end of the token starting at p.
inline const char* obj_token_end(const char* p) {
    while (obj_class(*p) == kObjText) ++p;
    return p;
}

// double -> float as IEEE round-to-nearest does it, without the undefined behaviour of
// converting an out-of-range double: values from half an ulp past the largest float on
// become infinite, the rest of the overflow range rounds to the largest float.
inline float obj_narrow(double value) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    constexpr double kOverflow = 0x1.ffffffp127;  // largest float plus half its ulp
    if (value >= kOverflow) return std::numeric_limits<float>::infinity();
    if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
    if (value > kLargest) return std::numeric_limits<float>::max();
    if (value < -kLargest) return -std::numeric_limits<float>::max();
    return static_cast<float>(value);
}

// Eight bytes of text at once, the first in the lowest byte. The caller makes sure that all
// eight lie inside the buffer.
inline uint64_t obj_load8(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof(word));
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// How many of the word's bytes, from the first, are decimal digits (8 when all are). A byte
// below '0' wraps to 0xd0 or more, one above '9' reaches 0x80 once 0x76 is added; digits do
// neither, so no borrow or carry runs from a digit into the byte after it.
inline unsigned obj_digit_run(uint64_t word) {
    const uint64_t v = word - 0x3030303030303030ull;
    const uint64_t non_digit = ((v + 0x7676767676767676ull) | v) & 0x8080808080808080ull;
    return non_digit ? static_cast<unsigned>(std::countr_zero(non_digit)) / 8 : 8;
}

// The number the first n (1 to 8) bytes of the word spell as decimal digits: the digits are
// moved to the top, so that the bytes shifted in read as leading zeros, then combined in
// pairs, fours and eights.
inline uint32_t obj_digits_value(uint64_t word, unsigned n) {
    word <<= 8 * (8 - n);
    word = (word & 0x0f0f0f0f0f0f0f0full) * 2561 >> 8;
    word = (word & 0x00ff00ff00ff00ffull) * 6553601 >> 16;
    return static_cast<uint32_t>((word & 0x0000ffff0000ffffull) * 42949672960001ull >> 32);
}

// The powers of ten that are exact doubles, and those below 10^8 as integers.
inline constexpr double kObjPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr uint32_t kObjScale[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// Reads the value of the token at p as the C library's string-to-double conversion reads it
// (the longest number at the start of the token, 0 when there is none) and moves p to the end
// of the token. The common decimal forms take the fast path; a leading "+", hexadecimal,
// leading white space and out-of-range values go through strtod itself. text_end is the
// buffer's closing line feed.
inline double obj_read_value(const char*& p, const char* text_end) {
    const char* first = p;
    // The usual shape, [-]digits[.digits] with at most seven digits on each side, read eight
    // bytes at a time: the same digits and power of ten as below, so the same value. Needs
    // the 17 bytes a sign, seven digits, a point and an eight-byte load can cover.
    if (text_end + 1 - first >= 17) {
        const bool negative = *first == '-';
        const char* q = first + negative;
        uint64_t word = obj_load8(q);
        const unsigned whole = obj_digit_run(word);
        if (whole < 8) {
            uint64_t digits = whole ? obj_digits_value(word, whole) : 0;
            q += whole;
            unsigned decimals = 0;
            if (*q == '.') {
                word = obj_load8(q + 1);
                decimals = obj_digit_run(word);
                if (decimals < 8) {
                    if (decimals) digits = digits * kObjScale[decimals] + obj_digits_value(word, decimals);
                    q += 1 + decimals;
                }
            }
            const char next = *q;
            if (decimals < 8 && whole + decimals > 0 && next != 'e' && next != 'E' && next != 'x' && next != 'X' &&
                next != '.') {
                const double value = static_cast<double>(digits) / kObjPowersOfTen[decimals];
                p = obj_class(next) == kObjText ? obj_token_end(q) : q;
                return negative ? -value : value;
            }
        }
    }
    // Plain decimals ([-]digits[.digits], no exponent) of at most 2^53 in their digits and at
    // most 22 decimals: the digits and the power of ten are both exact doubles, so one
    // division gives the correctly rounded value, the same that strtod gives.
    {
        const char* q = first + (*first == '-');
        uint64_t digits = 0;
        int count = 0, decimals = 0;
        while (obj_is_digit(*q) && count < 19) digits = digits * 10 + static_cast<uint64_t>(*q++ - '0'), ++count;
        if (*q == '.') {
            ++q;
            while (obj_is_digit(*q) && count < 19) digits = digits * 10 + static_cast<uint64_t>(*q++ - '0'), ++count, ++decimals;
        }
        const char next = *q;
        if (count > 0 && !obj_is_digit(next) && next != 'e' && next != 'E' && next != 'x' && next != 'X' &&
            next != '.' && digits <= (uint64_t(1) << 53) && decimals <= 22) {
            double value = static_cast<double>(digits) / kObjPowersOfTen[decimals];
            p = obj_class(next) == kObjText ? obj_token_end(q) : q;
            return *first == '-' ? -value : value;
        }
    }
    bool general = *first == '+';
    if (!general) {
        const char* d = first + (*first == '-');
        general = d[0] == '0' && (d[1] == 'x' || d[1] == 'X');
    }
    if (!general) {
        double value = 0;
        auto result = std::from_chars(first, text_end, value);
        if (result.ec == std::errc()) {
            p = obj_token_end(result.ptr);
            return value;
        }
    }
    p = obj_token_end(first);
    std::string copy(first, p);
    return std::strtod(copy.c_str(), nullptr);
}

// Reads the decimal digits at p (p points at a digit) and returns the number minus 1, the
// zero-based index; numbers too large for an int32 index saturate, so they stay out of range.
// text_end is the buffer's closing line feed; up to seven digits are read in one go.
inline int32_t obj_read_index(const char*& p, const char* text_end) {
    if (text_end + 1 - p >= 8) {
        const uint64_t word = obj_load8(p);
        const unsigned digits = obj_digit_run(word);
        if (digits < 8) {
            p += digits;
            return static_cast<int32_t>(obj_digits_value(word, digits)) - 1;
        }
    }
    constexpr uint64_t kSaturated = uint64_t(1) << 40;
    uint64_t value = 0;
    while (obj_is_digit(*p)) {
        if (value < kSaturated) value = value * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
    }
    if (value > uint64_t(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value) - 1;
}
