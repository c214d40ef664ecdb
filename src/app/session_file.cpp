#include "app/session_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "app/scripted_keyboard.h"
#include "platform/file/checked_file.h"

namespace {

// A run of one value polled this often is far beyond any real frame's pacing loop; the cap keeps
// a hostile file from making the replay spin for hours before it notices.
constexpr uint64_t maxRunCount = 100000000;
// Sessions grow by some tens of bytes per frame; a gigabyte is days of flight.
constexpr uint64_t maxSessionBytes = 1ull << 30;

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

bool parseSession(const std::string& text, const std::string& name, Session& out, std::string& error)
{
    out = Session{};
    size_t pos = 0;
    int64_t lineNumber = 0;
    bool sawStart = false;
    auto fail = [&](const std::string& what) {
        error = name + ":" + std::to_string(lineNumber) + ": " + what;
        return false;
    };
    while (pos < text.size()) {
        const size_t newline = text.find('\n', pos);
        ++lineNumber;
        if (newline == std::string::npos) {
            if (lineNumber <= 2) return fail("the file ends before its header is complete");
            const std::string what = sawStart ? "frame " + std::to_string(out.frames.size()) : "the start-up";
            error = name + " is cut off in the middle of " + what + " (line " + std::to_string(lineNumber) +
                    " has no end); a session can be replayed only up to a whole frame";
            return false;
        }
        std::string line = text.substr(pos, newline - pos);
        pos = newline + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string word;
        std::vector<std::string> w;
        while (words >> word) w.push_back(word);

        if (lineNumber == 1) {
            uint64_t version = 0;
            if (w.size() != 3 || w[0] != "zentrix" || w[1] != "session")
                return fail("not a zentrix session file (it must begin with 'zentrix session " +
                            std::to_string(sessionFormatVersion) + "')");
            if (!parseUnsigned(w[2], UINT32_MAX, version) || version != uint64_t(sessionFormatVersion))
                return fail("session format version '" + w[2] + "' is not known to this program, which reads version " +
                            std::to_string(sessionFormatVersion));
            continue;
        }
        if (lineNumber == 2) {
            uint64_t seed = 0;
            if (w.size() != 2 || w[0] != "seed" || !parseUnsigned(w[1], UINT32_MAX, seed))
                return fail("expected 'seed N' with N from 0 to 4294967295");
            out.seed = static_cast<uint32_t>(seed);
            continue;
        }
        if (w.empty()) continue;
        if (!out.end.empty()) return fail("nothing may follow the 'end' line");
        if (w[0] == "data") {
            SessionDataFile file;
            if (w.size() < 3 || !decodeName(w[1], file.name)) return fail("expected 'data NAME SIZE DIGEST' or 'data NAME missing'");
            if (w.size() == 3 && w[2] == "missing") {
                file.present = false;
            } else {
                uint64_t size = 0;
                if (w.size() != 4 || !parseUnsigned(w[2], INT64_MAX, size) || w[3].size() != 16 ||
                    w[3].find_first_not_of("0123456789abcdef") != std::string::npos)
                    return fail("expected 'data NAME SIZE DIGEST' with a 16-digit hexadecimal digest");
                file.present = true;
                file.size = size;
                file.digest = std::strtoull(w[3].c_str(), nullptr, 16);
            }
            for (const SessionDataFile& seen : out.dataFiles)
                if (seen.name == file.name) return fail("data file " + file.name + " is listed twice");
            out.dataFiles.push_back(std::move(file));
        } else if (w[0] == "start") {
            if (sawStart) return fail("a second 'start' line");
            sawStart = true;
            for (size_t i = 1; i < w.size(); ++i) {
                TickRun run;
                if (!parseTickRun(w[i], run)) return fail("expected a tick value or VALUE*COUNT, not '" + w[i] + "'");
                out.tickRuns.push_back(run);
            }
            out.startRuns = out.tickRuns.size();
        } else if (w[0] == "frame") {
            if (!sawStart) return fail("a frame before the 'start' line");
            uint64_t index = 0;
            if (w.size() < 4 || !parseUnsigned(w[1], INT64_MAX, index) || w[2] != "keys")
                return fail("expected 'frame N keys ... ticks ...'");
            if (index != out.frames.size())
                return fail("frame " + w[1] + " where frame " + std::to_string(out.frames.size()) + " was expected");
            SessionFrame frame;
            size_t i = 3;
            if (i < w.size() && w[i] == "?") {
                ++i;
            } else {
                frame.keysRead = true;
                for (; i < w.size() && w[i] != "ticks"; ++i) {
                    uint8_t code = 0;
                    if (!parseKey(w[i], code)) return fail("unknown key '" + w[i] + "'");
                    frame.keysDown.push_back(code);
                }
            }
            if (i >= w.size() || w[i] != "ticks") return fail("expected 'ticks' after the keys of frame " + w[1]);
            frame.firstRun = out.tickRuns.size();
            for (++i; i < w.size(); ++i) {
                TickRun run;
                if (!parseTickRun(w[i], run)) return fail("expected a tick value or VALUE*COUNT, not '" + w[i] + "'");
                out.tickRuns.push_back(run);
            }
            frame.runCount = out.tickRuns.size() - frame.firstRun;
            out.frames.push_back(std::move(frame));
        } else if (w[0] == "end") {
            if (w.size() != 2 || (w[1] != "escape" && w[1] != "close" && w[1] != "frames" && w[1] != "error"))
                return fail("expected 'end escape', 'end close', 'end frames' or 'end error'");
            out.end = w[1];
        } else {
            return fail("unknown line '" + w[0] + "'");
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
        error = "session file " + path + " is larger than 1 GiB";
        return false;
    }
    return parseSession(all, path, out, error);
}

SessionDataFile digestDataFile(const std::string& name)
{
    SessionDataFile result;
    result.name = name;
    std::FILE* file = openRegularFile(name);
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
