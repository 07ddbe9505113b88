#pragma once

#include <cstddef>
#include <string_view>

namespace tarvi::text_shape {

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The text has exactly the form of the pattern: '9' stands for a digit, '+'
// for "+" or "-", any other character for itself.
inline bool matches(std::string_view text, std::string_view pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[i];
        const bool ok = pattern[i] == '9'   ? isDigit(c)
                        : pattern[i] == '+' ? c == '+' || c == '-'
                                            : c == pattern[i];
        if (!ok)
            return false;
    }
    return true;
}

// The decimal number of the digits at [at, at + count); the caller has
// checked that they are digits.
inline int number(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

}  // namespace tarvi::text_shape
