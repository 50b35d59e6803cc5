// Machinery of the record layout dump (layout_dump.cpp holds the table of records).
//
// A row names a packed record and every one of its fields in order:
//
//   LAYOUT_RECORD(RaidRebuildPayload, disk_port, raid_port),
//
// From a row the dump prints the record's size, each field's offset, size and type, then
//   - "encoded": the bytes of an instance whose fields were given known values through their own
//     types (what a sender puts on the wire or into the database), and
//   - "decoded": the values each field's type reads back from a known byte pattern (what a
//     receiver makes of the bytes).
// The same program built for x86-64 and for 32-bit ARM must print the same text: then both sides
// write the same bytes and read the same values. A row must list the fields so that they tile the
// record exactly (no gap, no overlap, nothing after the last field); a row that does not is an
// error, so every byte of a record is covered by a typed field.
//
// Fields of a record type (a schedule day inside a schedule) are filled and read as bytes; their
// own rows cover their fields. Plain `char` is text and reads as bytes: numbers in records use
// int8_t/uint8_t, whose signedness is the same everywhere (plain char is signed on x86-64 and
// unsigned on ARM).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace layout {

// Deterministic values, the same on every machine (32-bit arithmetic only).
inline uint32_t next_value(uint32_t &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return seed ^ (seed >> 15);
}

// The byte at `index` of the pattern that the decoders read.
inline unsigned char pattern_byte(size_t index) { return static_cast<unsigned char>(index * 151u + 7u); }

template <typename V> constexpr bool is_plain_char = std::is_same_v<std::remove_cv_t<V>, char>;

template <typename V> std::string type_name()
{
    if constexpr (std::is_array_v<V>) {
        return type_name<std::remove_extent_t<V>>() + "[" + std::to_string(std::extent_v<V>) + "]";
    } else if constexpr (is_plain_char<V>) {
        return "char";
    } else if constexpr (std::is_same_v<V, bool>) {
        return "bool";
    } else if constexpr (std::is_enum_v<V>) {
        return "enum:" + type_name<std::underlying_type_t<V>>();
    } else if constexpr (std::is_integral_v<V>) {
        return std::string(std::is_signed_v<V> ? "i" : "u") + std::to_string(8 * sizeof(V));
    } else if constexpr (std::is_floating_point_v<V>) {
        return "f" + std::to_string(8 * sizeof(V));
    } else {
        return "record" + std::to_string(sizeof(V));
    }
}

// Gives `v` known values through its own type.
template <typename V> void fill(V &v, uint32_t &seed)
{
    static_assert(!std::is_pointer_v<V>, "a record must not hold a pointer: its size differs between machines");
    static_assert(std::is_trivially_copyable_v<V>, "a record field must be plain bytes, numbers or records");
    static_assert(!std::is_same_v<V, long> || std::is_same_v<long, int64_t>,
                  "a record must not hold long: it is 4 bytes on 32-bit ARM; use int32_t or int64_t");
    static_assert(!std::is_same_v<V, unsigned long> || std::is_same_v<unsigned long, uint64_t>,
                  "a record must not hold unsigned long or size_t: use uint32_t or uint64_t");
    if constexpr (std::is_array_v<V>) {
        for (auto &element : v)
            fill(element, seed);
    } else if constexpr (std::is_same_v<V, bool>) {
        v = (next_value(seed) & 1) != 0;
    } else if constexpr (std::is_enum_v<V>) {
        v = static_cast<V>(next_value(seed) & 1);
    } else if constexpr (std::is_integral_v<V>) {
        // Full-width values: the high word of 64-bit fields and the sign of signed ones show.
        uint64_t wide = (uint64_t{next_value(seed)} << 32) | next_value(seed);
        v = static_cast<V>(wide);
    } else if constexpr (std::is_floating_point_v<V>) {
        v = static_cast<V>(static_cast<int32_t>(next_value(seed) % 65536u) - 32768) / V(16);
    } else {
        unsigned char bytes[sizeof(V)];
        for (auto &b : bytes)
            b = static_cast<unsigned char>(next_value(seed));
        std::memcpy(&v, bytes, sizeof(V));
    }
}

inline void append_hex(std::string &out, const void *data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
}

// Appends the value(s) that type V reads from the bytes at `src`.
template <typename V> void read_as(const unsigned char *src, std::string &out)
{
    if constexpr (std::is_array_v<V>) {
        using E = std::remove_extent_t<V>;
        if constexpr (is_plain_char<E>) {
            append_hex(out, src, sizeof(V));
        } else {
            for (size_t i = 0; i < std::extent_v<V>; ++i) {
                if (i)
                    out.push_back(',');
                read_as<E>(src + i * sizeof(E), out);
            }
        }
    } else if constexpr (is_plain_char<V> || std::is_same_v<V, bool> || std::is_class_v<V>) {
        append_hex(out, src, sizeof(V));
    } else if constexpr (std::is_enum_v<V>) {
        read_as<std::underlying_type_t<V>>(src, out);
    } else if constexpr (std::is_integral_v<V>) {
        V value;
        std::memcpy(&value, src, sizeof value);
        if constexpr (std::is_signed_v<V>)
            out += std::to_string(static_cast<long long>(value));
        else
            out += std::to_string(static_cast<unsigned long long>(value));
    } else if constexpr (std::is_floating_point_v<V>) {
        V value;
        std::memcpy(&value, src, sizeof value);
        char text[64];
        // %a of a double prints the same digits everywhere (long double differs between machines).
        std::snprintf(text, sizeof text, "%a", static_cast<double>(value));
        out += text;
    }
}

struct Field {
    const char *name;
    size_t offset;
    size_t size;
    std::string type;
    void (*encode)(unsigned char *record, uint32_t &seed); // writes the field's known values
    void (*decode)(const unsigned char *record, std::string &out);
};

struct Record {
    const char *name;
    size_t size;
    std::vector<Field> fields;
};

template <typename V> void encode_at(unsigned char *dst, uint32_t &seed)
{
    V value{};
    fill(value, seed);
    std::memcpy(dst, &value, sizeof value);
}

} // namespace layout

// LAYOUT_FOR_EACH(M, T, a, b, c) gives M(T, a), M(T, b), M(T, c) (up to 256 fields).
#define LAYOUT_PARENS ()
#define LAYOUT_EXPAND(...) LAYOUT_EXPAND4(LAYOUT_EXPAND4(LAYOUT_EXPAND4(LAYOUT_EXPAND4(__VA_ARGS__))))
#define LAYOUT_EXPAND4(...) LAYOUT_EXPAND3(LAYOUT_EXPAND3(LAYOUT_EXPAND3(LAYOUT_EXPAND3(__VA_ARGS__))))
#define LAYOUT_EXPAND3(...) LAYOUT_EXPAND2(LAYOUT_EXPAND2(LAYOUT_EXPAND2(LAYOUT_EXPAND2(__VA_ARGS__))))
#define LAYOUT_EXPAND2(...) LAYOUT_EXPAND1(LAYOUT_EXPAND1(LAYOUT_EXPAND1(LAYOUT_EXPAND1(__VA_ARGS__))))
#define LAYOUT_EXPAND1(...) __VA_ARGS__
#define LAYOUT_FOR_EACH(M, T, ...) __VA_OPT__(LAYOUT_EXPAND(LAYOUT_FOR_EACH_STEP(M, T, __VA_ARGS__)))
#define LAYOUT_FOR_EACH_STEP(M, T, first, ...) M(T, first) __VA_OPT__(, LAYOUT_FOR_EACH_AGAIN LAYOUT_PARENS(M, T, __VA_ARGS__))
#define LAYOUT_FOR_EACH_AGAIN() LAYOUT_FOR_EACH_STEP

#define LAYOUT_FIELD(T, f)                                                                              \
    ::layout::Field                                                                                      \
    {                                                                                                    \
        #f, offsetof(T, f), sizeof(T::f), ::layout::type_name<decltype(T::f)>(),                         \
            [](unsigned char *record, uint32_t &seed) {                                                  \
                ::layout::encode_at<decltype(T::f)>(record + offsetof(T, f), seed);                      \
            },                                                                                           \
            [](const unsigned char *record, std::string &out) {                                          \
                ::layout::read_as<decltype(T::f)>(record + offsetof(T, f), out);                         \
            }                                                                                            \
    }

// One row of the table: the record type, then all of its fields in order.
#define LAYOUT_RECORD(T, ...) ::layout::Record{#T, sizeof(T), {LAYOUT_FOR_EACH(LAYOUT_FIELD, T, __VA_ARGS__)}}
