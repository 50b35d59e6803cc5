// URL coding stand-in of the platform's standard library (see url_coding.h).
#include "url_coding.h"

#include <cstring>

namespace {

constexpr char k_hex_digits[] = "0123456789ABCDEF";

bool is_unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Byte of the "%XX" group at text[i], or -1 when there is none there (or it is "%00").
int percent_byte(std::string_view text, size_t i)
{
    if (text[i] != '%' || i + 2 >= text.size())
        return -1;
    int high = hex_value(text[i + 1]);
    int low = hex_value(text[i + 2]);
    if (high < 0 || low < 0)
        return -1;
    int byte = high * 16 + low;
    return byte == 0 ? -1 : byte;
}

// Appends the encoded form of `text` to `out` while it stays within `limit` characters.
void encode_into(std::string_view text, std::string &out, size_t limit)
{
    for (unsigned char c : text) {
        if (is_unreserved(c)) {
            if (out.size() + 1 > limit)
                return;
            out += static_cast<char>(c);
        } else {
            if (out.size() + 3 > limit)
                return;
            out += '%';
            out += k_hex_digits[c >> 4];
            out += k_hex_digits[c & 15];
        }
    }
}

void decode_into(std::string_view text, std::string &out, size_t limit)
{
    for (size_t i = 0; i < text.size() && out.size() < limit;) {
        int byte = percent_byte(text, i);
        if (byte >= 0) {
            out += static_cast<char>(byte);
            i += 3;
        } else {
            out += text[i];
            i += 1;
        }
    }
}

int copy_out(const std::string &text, char *dst)
{
    std::memcpy(dst, text.data(), text.size());
    dst[text.size()] = '\0';
    return static_cast<int>(text.size());
}

} // namespace

int get_url_encode(const char *src, char *dst, int size)
{
    if (src == nullptr || dst == nullptr || size < 1)
        return -1;
    std::string out;
    encode_into(src, out, static_cast<size_t>(size) - 1);
    return copy_out(out, dst);
}

int get_url_decode(const char *src, char *dst, int size)
{
    if (src == nullptr || dst == nullptr || size < 1)
        return -1;
    std::string out;
    decode_into(src, out, static_cast<size_t>(size) - 1);
    return copy_out(out, dst);
}

std::string url_encode(std::string_view text)
{
    std::string out;
    encode_into(text, out, std::string::npos);
    return out;
}

std::string url_decode(std::string_view text)
{
    std::string out;
    decode_into(text, out, std::string::npos);
    return out;
}
