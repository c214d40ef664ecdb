#include "session/scripted_keyboard.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <sstream>

#include "base/checked_file.h"

uint8_t keyCodeByName(const std::string& name)
{
    static const struct {
        const char* name;
        uint8_t code;
    } table[] = {{"UP", DIK_UP},     {"DOWN", DIK_DOWN},       {"LEFT", DIK_LEFT},       {"RIGHT", DIK_RIGHT},
                 {"NUMPAD1", DIK_NUMPAD1}, {"NUMPAD3", DIK_NUMPAD3}, {"B", DIK_B}, {"V", DIK_V},
                 {"M", DIK_M},       {"N", DIK_N},             {"E", DIK_E},             {"W", DIK_W},
                 {"A", DIK_A},       {"F", DIK_F},             {"1", DIK_1},             {"2", DIK_2},
                 {"ESCAPE", DIK_ESCAPE}};
    for (const auto& k : table)
        if (name == k.name) return k.code;
    return 0;
}

namespace {

bool parseFrame(const std::string& text, int64_t& out)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0) return false;
    out = v;
    return true;
}

}  // namespace

bool ScriptedKeyboard::load(const std::string& path, std::string& error)
{
    std::string all;
    TextFileFault fault;
    if (!readTextFile(path, all, fault)) {
        error = fault.kind == TextFileFault::Kind::Open ? "cannot open key script " + path + ": " + openFailureReason(fault.err)
                                                        : fault.message("key script " + path);
        return false;
    }
    return parse(all, path, error);
}

bool ScriptedKeyboard::parse(const std::string& text, const std::string& name, std::string& error)
{
    spans_.clear();
    // Editors may begin a UTF-8 file with a byte-order mark; the settings files take one too.
    const bool marked = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    std::istringstream lines(marked ? text.substr(3) : text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string range;
        if (!(words >> range)) continue;  // blank or comment
        const std::string where = name + ":" + std::to_string(lineNumber) + ": ";
        Span span{};
        const size_t dash = range.find('-');
        const bool ok = dash == std::string::npos
                            ? parseFrame(range, span.first) && ((span.last = span.first), true)
                            : parseFrame(range.substr(0, dash), span.first) && parseFrame(range.substr(dash + 1), span.last);
        if (!ok) {
            error = where + "expected a frame number or FIRST-LAST, not " + quoteToken(range);
            return false;
        }
        if (span.last < span.first) {
            error = where + "the last frame " + std::to_string(span.last) + " comes before the first " + std::to_string(span.first);
            return false;
        }
        std::string key;
        while (words >> key) {
            const uint8_t code = keyCodeByName(key);
            if (code == 0) {
                error = where + "unknown key " + quoteToken(key);
                return false;
            }
            span.keys.push_back(code);
        }
        if (span.keys.empty()) {
            error = where + "no key named after the frames";
            return false;
        }
        spans_.push_back(std::move(span));
    }
    return true;
}

std::vector<uint8_t> ScriptedKeyboard::keysAt(int64_t frame) const
{
    std::vector<uint8_t> keys;
    for (const Span& s : spans_)
        if (frame >= s.first && frame <= s.last) keys.insert(keys.end(), s.keys.begin(), s.keys.end());
    return keys;
}

bool ScriptedKeyboard::read(uint8_t state[256])
{
    std::memset(state, 0, 256);
    for (uint8_t code : keysAt(currentFrame_())) state[code] = 0x80;
    return true;
}

bool ScriptedKeyboard::escapeDown()
{
    for (uint8_t code : keysAt(currentFrame_()))
        if (code == DIK_ESCAPE) return true;
    return false;
}
