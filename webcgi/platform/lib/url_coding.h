// URL coding of the platform's standard library: percent-encoding of a text into a caller's
// buffer and its inverse. Handlers use it for credentials that travel inside JSON answers and
// requests (network-disk user names and passwords, licence plates).
//
// Encoding keeps the unreserved characters A-Z a-z 0-9 - _ . ~ and writes every other byte as
// "%XX" (upper-case hex), so that '%', '+', '&', quotes, blanks and non-ASCII bytes all survive a
// round trip: get_url_decode(get_url_encode(text)) == text for every NUL-terminated text that
// fits. Decoding turns "%XX" (hex digits of either case) into its byte and keeps everything else
// as it stands: a '+' stays a '+', and a '%' not followed by two hex digits (or "%00", which would
// end the text) is copied literally.
#pragma once
#include <string>
#include <string_view>

// Encodes `src` into `dst` (`size` bytes, always NUL-terminated when size > 0). The text is cut
// before the first character whose encoded form would not fit, never inside a "%XX" group.
// Returns the length written, or -1 when an argument is null or size < 1.
int get_url_encode(const char *src, char *dst, int size);
// Decodes `src` into `dst` (`size` bytes, always NUL-terminated when size > 0), at most size - 1
// bytes. Returns the length written, or -1 when an argument is null or size < 1.
int get_url_decode(const char *src, char *dst, int size);

// Whole-text forms of the two.
std::string url_encode(std::string_view text);
std::string url_decode(std::string_view text);
