// simcore: the one value type that crosses between the stand-in libraries and their control face
// (journal arguments, fault payloads). Texts are kept as bytes; a null text stays distinct.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace sim
{

// monostate is a null text (or an absent value); strings are raw bytes, never decoded.
using Value = std::variant<std::monostate, bool, std::int64_t, double, std::string>;
using Values = std::vector<Value>;

inline Value text(const char* s)
{
    return s ? Value(std::string(s)) : Value();
}

inline Value text(const std::optional<std::string>& s)
{
    return s ? Value(*s) : Value();
}

inline Value bytes(const char* data, std::size_t size)
{
    return data ? Value(std::string(data, size)) : Value();
}

inline Value flag(bool b)
{
    return Value(b);
}

// Integers and enums alike go in as 64-bit integers.
template <class T>
Value number(T v)
{
    if constexpr (std::is_enum_v<T>)
        return Value(static_cast<std::int64_t>(v));
    else if constexpr (std::is_floating_point_v<T>)
        return Value(static_cast<double>(v));
    else
        return Value(static_cast<std::int64_t>(v));
}

}  // namespace sim
