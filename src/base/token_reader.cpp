#include "base/token_reader.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/fatal_error.h"
#include "base/checked_file.h"
#include "base/data_folder.h"

TokenReader::~TokenReader() { close(); }

bool TokenReader::open(const std::string& path)
{
    close();
    failure_.clear();
    std::string text;
    TextFileFault fault;
    if (!readTextFile(dataPath(path), text, fault)) {
        if (fault.kind == TextFileFault::Kind::Open) {
            errno = fault.err;
            failure_ = cannotOpenMessage(shownPath(path));
        } else {
            failure_ = fault.message(shownPath(path));
        }
        return false;
    }
    openText(std::move(text));
    return true;
}

bool TokenReader::openRequired(const std::string& path)
{
    if (open(path)) return true;
    reportFatal(failure_);
    return false;
}

void TokenReader::openText(std::string text)
{
    close();
    text_ = std::move(text);
    textPos_ = 0;
    textOpen_ = true;
}

void TokenReader::close()
{
    text_.clear();
    textPos_ = 0;
    textOpen_ = false;
    pending_.clear();
}

int TokenReader::nextChar()
{
    if (textOpen_ && textPos_ < text_.size()) return static_cast<unsigned char>(text_[textPos_++]);
    return EOF;
}

bool TokenReader::fillToken()
{
    if (!pending_.empty()) return true;
    if (!isOpen()) return false;
    int c;
    do {
        c = nextChar();
    } while (c != EOF && std::isspace(c));
    while (c != EOF && !std::isspace(c)) {
        pending_.push_back(static_cast<char>(c));
        c = nextChar();
    }
    return !pending_.empty();
}

bool TokenReader::readWord(std::string& word)
{
    if (!fillToken()) return false;
    word.swap(pending_);
    pending_.clear();
    return true;
}

bool TokenReader::peekWord(std::string& word)
{
    if (!fillToken()) return false;
    word = pending_;
    return true;
}

std::string TokenReader::describeNext()
{
    std::string word;
    if (!peekWord(word)) return "the end of the file";
    return quoteToken(word);
}

bool TokenReader::readInt(int32_t& value)
{
    if (!fillToken()) return false;
    const char* begin = pending_.c_str();
    // Only a sign and digits belong to an integer; strtol would also skip spaces or take "0x".
    size_t i = (begin[0] == '+' || begin[0] == '-') ? 1 : 0;
    if (!std::isdigit(static_cast<unsigned char>(begin[i]))) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    value = static_cast<int32_t>(v);
    pending_.erase(0, static_cast<size_t>(end - begin));
    return true;
}

bool TokenReader::readFloat(float& value)
{
    if (!fillToken()) return false;
    const char* begin = pending_.c_str();
    char* end = nullptr;
    const float v = std::strtof(begin, &end);
    if (end == begin) return false;
    value = v;
    pending_.erase(0, static_cast<size_t>(end - begin));
    return true;
}
