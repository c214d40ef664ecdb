#include "base/path_option.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "base/checked_file.h"

namespace {

bool endsWithNoCase(const std::string& text, const std::string& ending)
{
    if (text.size() < ending.size()) return false;
    const size_t at = text.size() - ending.size();
    for (size_t i = 0; i < ending.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(ending[i])))
            return false;
    return true;
}

}  // namespace

bool isStreamName(const std::string& path)
{
    if (path == "/dev/stdout" || path == "/dev/stderr") return true;
    const std::string fd = "/dev/fd/";
    if (path.size() > fd.size() && path.compare(0, fd.size(), fd) == 0 &&
        path.find_first_not_of("0123456789", fd.size()) == std::string::npos)
        return true;
    struct stat s{};
    return stat(path.c_str(), &s) == 0 && (S_ISFIFO(s.st_mode) || S_ISCHR(s.st_mode));
}

std::string pathOptionFault(const std::string& option, const std::string& value, const char* what,
                            std::initializer_list<const char*> endings, bool streams)
{
    std::string needs = option + " needs a " + what;
    if (!value.empty()) {
        if (endings.size() == 0 || (streams && isStreamName(value))) return "";
        for (const char* ending : endings)
            if (endsWithNoCase(value, ending)) return "";
    }
    if (endings.size() > 0) {
        needs += " ending in ";
        size_t i = 0;
        for (const char* ending : endings) {
            if (i > 0) needs += i + 1 == endings.size() ? " or " : ", ";
            needs += ending;
            ++i;
        }
    }
    return needs + ", not " + quoteToken(value);
}

bool parseWholeNumber(const char* text, int64_t min, int64_t max, int64_t& out)
{
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    out = v;
    return true;
}
