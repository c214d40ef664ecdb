#include "output_files.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "base/checked_file.h"

bool writeOutput(const std::filesystem::path& path, Existing existing, std::string& error,
                 const std::function<bool(const std::string& temporary, std::string& error)>& write)
{
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (std::filesystem::exists(status)) {
        if (existing == Existing::Keep) return true;
        if (!std::filesystem::is_regular_file(status)) {
            error = "cannot write " + path.string() + ": something that is not a regular file is in the way";
            return false;
        }
    }
    const std::string temporary = path.string() + ".part" + std::to_string(getpid());
    if (!write(temporary, error)) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

bool writeOutputBytes(const std::filesystem::path& path, Existing existing, const void* data, size_t size,
                      std::string& error)
{
    return writeOutput(path, existing, error, [&](const std::string& temporary, std::string& why) {
        OutputFile file;
        if (!file.open(temporary, "file") || !file.write(data, size) || !file.close()) {
            why = "cannot write " + path.string() + ": " +
                  (file.error().empty() ? std::string("write error") : file.error().substr(file.error().rfind(": ") + 2));
            return false;
        }
        return true;
    });
}

bool makeFolder(const std::filesystem::path& folder, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        error = "cannot create the folder " + folder.string() + ": " + (ec ? ec.message() : "a file is in the way");
        return false;
    }
    return true;
}
