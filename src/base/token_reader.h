#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Reads a text file token by token the way formatted input does: tokens are separated by any
// white space; a number is read from the front of the next token, and a token that does not
// start with a number is left in place (so a later label read takes it). Words of any length are
// read whole.
class TokenReader {
public:
    TokenReader() = default;
    ~TokenReader();
    TokenReader(const TokenReader&) = delete;
    TokenReader& operator=(const TokenReader&) = delete;

    // Reads the data file path (relative names in the data folder, see base/data_folder.h).
    // False when the file cannot be opened or read (failure() tells why, naming the file). Only
    // regular files are read: a directory or a device or pipe would give nothing or never end.
    // The whole file is read here, so that a file larger than maxTextFileBytes, a read error or a
    // word longer than maxTextTokenLength is refused before any of it is used.
    bool open(const std::string& path);
    // The same for a file the program cannot run without: a failure is reported as a fatal error.
    bool openRequired(const std::string& path);
    // Why the last open failed, as one message: "cannot open NAME: reason", "NAME is a directory",
    // "NAME is larger than 4 MiB, ...", "cannot read NAME: reason", "NAME: a word of more than ...".
    const std::string& failure() const { return failure_; }
    // Reads from text instead of a file (for readers driven from memory, such as fuzz harnesses).
    void openText(std::string text);
    void close();
    bool isOpen() const { return textOpen_; }

    // A whitespace-free word; false at the end of the file.
    bool readWord(std::string& word);
    // The next word (or the unread rest of the current token) without taking it; false at the end.
    bool peekWord(std::string& word);
    // How the next token reads in a message: 'word' in quotes (cut, invisible characters escaped),
    // or "the end of the file".
    std::string describeNext();
    // A label: one word, discarded.
    bool skipLabel() { std::string w; return readWord(w); }
    // "%d": optional sign and decimal digits, saturated to 32 bits. On failure value is untouched.
    bool readInt(int32_t& value);
    // True when the last number read took its whole token (nothing of it is left for the next read).
    bool tokenDone() const { return pending_.empty(); }
    // "%f": a decimal or hexadecimal float, inf or nan, rounded to single precision.
    bool readFloat(float& value);

private:
    bool fillToken();   // makes pending_ hold the rest of the next token
    int nextChar();     // EOF at the end of the file or text
    std::string failure_;
    std::string text_;
    size_t textPos_ = 0;
    bool textOpen_ = false;
    std::string pending_;  // unread rest of the current token
};
