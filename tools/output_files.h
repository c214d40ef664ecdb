#pragma once

#include <filesystem>
#include <functional>
#include <string>

// How the tool writes into its output folder. Every file is written under a temporary name
// beside its final one and renamed over it only when complete, so a failed write (a full disk)
// leaves whatever was there before.
enum class Existing {
    Replace,  // the file is what the user asked to (re)make
    Keep,     // a file already there (a user's edit, their own music) stays as it is
};

// Runs write on a temporary path beside path and renames the result over path. With Keep and a
// path that already exists, nothing is written. False with error naming the file and the reason.
bool writeOutput(const std::filesystem::path& path, Existing existing, std::string& error,
                 const std::function<bool(const std::string& temporary, std::string& error)>& write);

// The same for text or bytes held in memory.
bool writeOutputBytes(const std::filesystem::path& path, Existing existing, const void* data, size_t size,
                      std::string& error);
inline bool writeOutputText(const std::filesystem::path& path, Existing existing, const std::string& text,
                            std::string& error)
{
    return writeOutputBytes(path, existing, text.data(), text.size(), error);
}

// Creates folder and its parents; false with error when it cannot, or when something that is not
// a folder stands in its place.
bool makeFolder(const std::filesystem::path& folder, std::string& error);
