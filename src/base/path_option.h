#pragma once

// The one rule for options whose value is a path: never empty, and where the option writes a
// file of a fixed type, a name that says that type; and the one reading of a whole-number value,
// shared by the command line and the page's address.

#include <cstdint>
#include <initializer_list>
#include <string>

// A whole decimal number in [min, max], the whole of text; false for an empty text, anything
// after the digits, or a value out of range.
bool parseWholeNumber(const char* text, int64_t min, int64_t max, int64_t& out);

// Whether path names a stream rather than a file: /dev/stdout, /dev/stderr, /dev/fd/N, or an
// existing pipe or character device (links followed). A stream's name carries no type.
bool isStreamName(const std::string& path);

// Empty when value will do for option; otherwise one line that says what the option needs:
// "--trace needs a file name, not ''", "--screenshot needs a file name ending in .png, not 's.jpg'".
// what: "file name" or "folder name". endings: the accepted endings with their dots, matched in
// any case; none for an option that takes any name. streams: a stream is accepted whatever its
// name (the type check is for names that make files).
std::string pathOptionFault(const std::string& option, const std::string& value, const char* what,
                            std::initializer_list<const char*> endings = {}, bool streams = false);
