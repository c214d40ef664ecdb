#include "session/session_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "session/scripted_keyboard.h"
#include "base/checked_file.h"
#include "base/data_folder.h"

namespace {

// A run of one value polled this often is far beyond any real frame's pacing loop; the cap keeps
// a hostile file from making the replay spin for hours before it notices.
constexpr uint64_t maxRunCount = 100000000;
// Sessions grow by some tens of bytes per frame: 256 MiB is more than a day of flight, and
// bounds what a hostile file can make the reader hold (some 50 bytes a frame line).
constexpr uint64_t maxSessionBytes = 256ull << 20;

const char* const keyNames[] = {"UP", "DOWN", "LEFT", "RIGHT", "NUMPAD1", "NUMPAD3", "B", "V", "M",
                                "N",  "E",    "W",    "A",     "F",       "1",       "2", "ESCAPE"};

std::string keyName(uint8_t code)
{
    for (const char* name : keyNames)
        if (keyCodeByName(name) == code) return name;
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%02x", unsigned(code));
    return hex;
}

// Names travel as one word: spaces, control bytes, '%' and bytes above 0x7e are written %XX.
std::string encodeName(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if (c <= 0x20 || c >= 0x7f || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", unsigned(c));
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeName(const std::string& word, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%') {
            out += word[i];
            continue;
        }
        if (i + 2 >= word.size()) return false;
        const int hi = hexDigit(word[i + 1]), lo = hexDigit(word[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return !out.empty() && out.find('\0') == std::string::npos;
}

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& out)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > max) return false;
    out = v;
    return true;
}

bool parseTickRun(const std::string& word, TickRun& run)
{
    const size_t star = word.find('*');
    uint64_t value = 0, count = 1;
    if (!parseUnsigned(word.substr(0, star), UINT32_MAX, value)) return false;
    if (star != std::string::npos && (!parseUnsigned(word.substr(star + 1), maxRunCount, count) || count == 0))
        return false;
    run.value = static_cast<uint32_t>(value);
    run.count = static_cast<uint32_t>(count);
    return true;
}

bool parseKey(const std::string& word, uint8_t& code)
{
    if (word.size() == 3 && word[0] == '#') {
        const int hi = hexDigit(word[1]), lo = hexDigit(word[2]);
        if (hi < 0 || lo < 0 || hi * 16 + lo == 0) return false;
        code = static_cast<uint8_t>(hi * 16 + lo);
        return true;
    }
    code = keyCodeByName(word);
    return code != 0;
}

}  // namespace

void appendTickRuns(std::string& line, const std::vector<TickRun>& runs, size_t first, size_t count)
{
    char text[32];
    for (size_t i = first; i < first + count; ++i) {
        if (runs[i].count == 1)
            std::snprintf(text, sizeof text, " %" PRIu32, runs[i].value);
        else
            std::snprintf(text, sizeof text, " %" PRIu32 "*%" PRIu32, runs[i].value, runs[i].count);
        line += text;
    }
}

std::string sessionHeader(uint32_t seed)
{
    return "zentrix session " + std::to_string(sessionFormatVersion) + "\nseed " + std::to_string(seed) + "\n";
}

std::string sessionDataLine(const SessionDataFile& file)
{
    if (!file.present) return "data " + encodeName(file.name) + " missing\n";
    char digest[24];
    std::snprintf(digest, sizeof digest, "%016" PRIx64, file.digest);
    return "data " + encodeName(file.name) + " " + std::to_string(file.size) + " " + digest + "\n";
}

std::string sessionFrameLine(int64_t index, const uint8_t* keys, const std::vector<TickRun>& runs)
{
    std::string line = "frame " + std::to_string(index) + " keys";
    if (!keys) {
        line += " ?";
    } else {
        for (int code = 1; code < 256; ++code)
            if (keys[code] & 0x80) line += " " + keyName(static_cast<uint8_t>(code));
    }
    line += " ticks";
    appendTickRuns(line, runs, 0, runs.size());
    return line + "\n";
}

namespace {

// One line's words; false with what (the message after "NAME:LINE: ") when it is malformed.
using Words = std::vector<std::string>;

bool parseDataLine(const Words& w, Session& out, std::string& what)
{
    SessionDataFile file;
    if (w.size() < 3 || !decodeName(w[1], file.name)) {
        what = "expected 'data NAME SIZE DIGEST' or 'data NAME missing'";
        return false;
    }
    if (w.size() != 3 || w[2] != "missing") {
        uint64_t size = 0;
        if (w.size() != 4 || !parseUnsigned(w[2], INT64_MAX, size) || w[3].size() != 16 ||
            w[3].find_first_not_of("0123456789abcdef") != std::string::npos) {
            what = "expected 'data NAME SIZE DIGEST' with a 16-digit hexadecimal digest";
            return false;
        }
        file.present = true;
        file.size = size;
        file.digest = std::strtoull(w[3].c_str(), nullptr, 16);
    }
    for (const SessionDataFile& seen : out.dataFiles) {
        if (seen.name == file.name) {
            what = "data file " + quoteToken(file.name) + " is listed twice";
            return false;
        }
    }
    out.dataFiles.push_back(std::move(file));
    return true;
}

bool parseTicks(const Words& w, size_t from, Session& out, std::string& what)
{
    for (size_t i = from; i < w.size(); ++i) {
        TickRun run;
        if (!parseTickRun(w[i], run)) {
            what = "expected a tick value or VALUE*COUNT, not " + quoteToken(w[i]);
            return false;
        }
        out.tickRuns.push_back(run);
    }
    return true;
}

bool parseFrameLine(const Words& w, Session& out, std::string& what)
{
    uint64_t index = 0;
    if (w.size() < 4 || !parseUnsigned(w[1], INT64_MAX, index) || w[2] != "keys") {
        what = "expected 'frame N keys ... ticks ...'";
        return false;
    }
    if (index != out.frames.size()) {
        what = "frame " + w[1] + " where frame " + std::to_string(out.frames.size()) + " was expected";
        return false;
    }
    SessionFrame frame;
    size_t i = 3;
    if (w[i] == "?") {
        ++i;
    } else {
        frame.keysRead = true;
        for (; i < w.size() && w[i] != "ticks"; ++i) {
            uint8_t code = 0;
            if (!parseKey(w[i], code)) {
                what = "unknown key " + quoteToken(w[i]);
                return false;
            }
            frame.keysDown.push_back(code);
        }
    }
    if (i >= w.size() || w[i] != "ticks") {
        what = "expected 'ticks' after the keys of frame " + w[1];
        return false;
    }
    frame.firstRun = out.tickRuns.size();
    if (!parseTicks(w, i + 1, out, what)) return false;
    frame.runCount = out.tickRuns.size() - frame.firstRun;
    out.frames.push_back(std::move(frame));
    return true;
}

bool parseHeaderLine(int64_t lineNumber, const Words& w, Session& out, std::string& what)
{
    if (lineNumber == 1) {
        uint64_t version = 0;
        if (w.size() != 3 || w[0] != "zentrix" || w[1] != "session") {
            what = "not a zentrix session file (it must begin with 'zentrix session " + std::to_string(sessionFormatVersion) + "')";
            return false;
        }
        if (!parseUnsigned(w[2], UINT32_MAX, version) || version != uint64_t(sessionFormatVersion)) {
            what = "session format version " + quoteToken(w[2]) + " is not known to this program, which reads version " +
                   std::to_string(sessionFormatVersion);
            return false;
        }
        return true;
    }
    uint64_t seed = 0;
    if (w.size() != 2 || w[0] != "seed" || !parseUnsigned(w[1], UINT32_MAX, seed)) {
        what = "expected 'seed N' with N from 0 to 4294967295";
        return false;
    }
    out.seed = static_cast<uint32_t>(seed);
    return true;
}

// Every line after the header: data, start, frame and end lines.
bool parseBodyLine(const Words& w, bool& sawStart, Session& out, std::string& what)
{
    if (!out.end.empty()) {
        what = "nothing may follow the 'end' line";
        return false;
    }
    if (w[0] == "data") return parseDataLine(w, out, what);
    if (w[0] == "start") {
        if (sawStart) {
            what = "a second 'start' line";
            return false;
        }
        sawStart = true;
        if (!parseTicks(w, 1, out, what)) return false;
        out.startRuns = out.tickRuns.size();
        return true;
    }
    if (w[0] == "frame") {
        if (!sawStart) {
            what = "a frame before the 'start' line";
            return false;
        }
        return parseFrameLine(w, out, what);
    }
    if (w[0] == "end") {
        if (w.size() != 2 || (w[1] != "escape" && w[1] != "close" && w[1] != "frames" && w[1] != "error")) {
            what = "expected 'end escape', 'end close', 'end frames' or 'end error'";
            return false;
        }
        out.end = w[1];
        return true;
    }
    what = "unknown line " + quoteToken(w[0]);
    return false;
}

}  // namespace

bool parseSession(const std::string& text, const std::string& name, Session& out, std::string& error)
{
    out = Session{};
    size_t pos = 0;
    int64_t lineNumber = 0;
    bool sawStart = false;
    while (pos < text.size()) {
        const size_t newline = text.find('\n', pos);
        const size_t lineEnd = newline == std::string::npos ? text.size() : newline;
        ++lineNumber;
        std::istringstream words(text.substr(pos, lineEnd - pos));
        pos = lineEnd + 1;
        Words w;
        for (std::string word; words >> word;) w.push_back(word);
        // An editor may drop the newline after the last line: an end line is whole without it.
        if (newline == std::string::npos && (lineNumber <= 2 || w.empty() || w[0] != "end")) {
            if (lineNumber <= 2) {
                error = name + ":" + std::to_string(lineNumber) + ": the file ends before its header is complete";
                return false;
            }
            const std::string what = sawStart ? "frame " + std::to_string(out.frames.size()) : "the start-up";
            error = name + " is cut off in the middle of " + what + " (line " + std::to_string(lineNumber) +
                    " has no end); a session can be replayed only up to a whole frame";
            return false;
        }
        std::string what;
        const bool ok = lineNumber <= 2 ? parseHeaderLine(lineNumber, w, out, what)
                                        : w.empty() || parseBodyLine(w, sawStart, out, what);
        if (!ok) {
            error = name + ":" + std::to_string(lineNumber) + ": " + what;
            return false;
        }
    }
    if (lineNumber < 2) {
        error = name + " is not a whole session file: it ends before its header is complete";
        return false;
    }
    if (!sawStart) {
        error = name + " is cut off before the start-up was recorded; there is nothing to replay";
        return false;
    }
    return true;
}

bool loadSession(const std::string& path, Session& out, std::string& error)
{
    std::FILE* file = openRegularFile(path);
    if (!file) {
        error = "cannot open session file " + path + ": " + openFailureReason(errno);
        return false;
    }
    std::string all;
    char chunk[65536];
    size_t n;
    bool tooLarge = false;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (all.size() + n > maxSessionBytes) {
            tooLarge = true;
            break;
        }
        all.append(chunk, n);
    }
    const bool readFailed = std::ferror(file) != 0;
    const int err = errno;
    std::fclose(file);
    if (readFailed) {
        error = "cannot read session file " + path + ": " + openFailureReason(err);
        return false;
    }
    if (tooLarge) {
        error = "session file " + path + " is larger than 256 MiB";
        return false;
    }
    return parseSession(all, path, out, error);
}

SessionDataFile digestDataFile(const std::string& name)
{
    SessionDataFile result;
    result.name = name;
    std::FILE* file = openRegularFile(dataPath(name));
    if (!file) return result;
    uint64_t hash = 0xcbf29ce484222325ull;
    uint64_t size = 0;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        for (size_t i = 0; i < n; ++i) hash = (hash ^ chunk[i]) * 0x100000001b3ull;
        size += n;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return result;
    result.present = true;
    result.size = size;
    result.digest = hash;
    return result;
}

std::string firstDifferingDataFile(const Session& session, std::string& how)
{
    for (const SessionDataFile& recorded : session.dataFiles) {
        const SessionDataFile now = digestDataFile(recorded.name);
        if (recorded.present && !now.present) {
            how = "is missing or unreadable now";
            return recorded.name;
        }
        if (!recorded.present && now.present) {
            how = "was missing when the session was recorded and is there now";
            return recorded.name;
        }
        if (recorded.present && (now.size != recorded.size || now.digest != recorded.digest)) {
            how = "differs from the one the session was recorded with";
            return recorded.name;
        }
    }
    return {};
}
