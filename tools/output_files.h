#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/run_files.h"

// How the tool writes into its output folder.
enum class Existing {
    Replace,  // the file is what the user asked to (re)make
    Keep,     // a file already there (a user's edit, their own music) stays as it is
};

// Every file of one tool run, moved into place together or not at all: each is written in full
// under a temporary name beside its final one, and only when the last is complete does commit()
// rename them over their places, restoring the ones already moved if a rename fails. Without a
// commit (a full disk half-way, a refusal) the destructor removes every temporary file and every
// folder made for the set, so the folder stays as it was: never a new height map beside an old
// terrain file.
class OutputSet {
public:
    // inputs: what the run reads; none of them may be written. Files under root are named in
    // messages as "ROOTNAME (relative path)".
    OutputSet(std::filesystem::path root, std::string rootName, std::vector<RunFile> inputs);
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Runs write on a temporary path beside path. With Keep and a path that already exists,
    // nothing is written. name names the file in messages (by default "ROOTNAME (relative path)").
    // False with error naming the file and the reason; clashed() tells whether the fault was the
    // command line's: path is an input or a file written before.
    bool write(const std::filesystem::path& path, Existing existing, std::string& error,
               const std::function<bool(const std::string& temporary, std::string& error)>& write,
               const std::string& name = {});
    // The same for text or bytes held in memory.
    bool writeBytes(const std::filesystem::path& path, Existing existing, const void* data, size_t size,
                    std::string& error, const std::string& name = {});
    bool writeText(const std::filesystem::path& path, Existing existing, const std::string& text, std::string& error)
    {
        return writeBytes(path, existing, text.data(), text.size(), error);
    }

    // Creates folder and its parents (removed again without a commit); false with error when it
    // cannot, or when something that is not a folder stands in its place.
    bool makeFolder(const std::filesystem::path& folder, std::string& error);

    // Moves every written file into place; false with error, every file as it was, when one
    // cannot be.
    bool commit(std::string& error);

    bool clashed() const { return clashed_; }

private:
    struct Entry {
        std::filesystem::path target, temporary, backup;
        bool replaced = false;  // target existed when it was moved into place; backup holds it
        bool moved = false;
    };
    bool clash(const RunFile& output, std::string& error);
    void rollBack();

    std::filesystem::path root_;
    std::string rootName_;
    std::vector<RunFile> inputs_;
    std::vector<RunFile> outputs_;  // written so far
    std::vector<Entry> entries_;
    std::vector<std::filesystem::path> madeFolders_;  // in the order made
    bool clashed_ = false;
    bool committed_ = false;
};
