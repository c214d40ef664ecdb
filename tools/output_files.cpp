#include "output_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "base/checked_file.h"

namespace fs = std::filesystem;

OutputSet::OutputSet(fs::path root, std::string rootName, std::vector<RunFile> inputs)
    : root_(std::move(root)), rootName_(std::move(rootName)), inputs_(std::move(inputs))
{
}

OutputSet::~OutputSet()
{
    if (committed_) return;
    rollBack();
    std::error_code ec;
    for (const Entry& e : entries_) fs::remove(e.temporary, ec);
    // Only folders still empty: whatever else appeared in them meanwhile is not ours.
    for (auto f = madeFolders_.rbegin(); f != madeFolders_.rend(); ++f) ::rmdir(f->c_str());
}

bool OutputSet::clash(const RunFile& output, std::string& error)
{
    std::vector<RunFile> all = outputs_;
    all.push_back(output);
    clashed_ = !checkOutputsAgainstInputs(all, inputs_, error);
    return clashed_;
}

bool OutputSet::write(const fs::path& path, Existing existing, std::string& error,
                      const std::function<bool(const std::string& temporary, std::string& error)>& write,
                      const std::string& name)
{
    // Checked even where an existing file is kept: another output would replace it.
    const RunFile output{path.string(),
                         name.empty() ? rootName_ + " (" + path.lexically_relative(root_).string() + ")" : name};
    if (clash(output, error)) return false;
    outputs_.push_back(output);

    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (fs::exists(status)) {
        if (existing == Existing::Keep) return true;
        if (!fs::is_regular_file(status)) {
            error = "cannot write " + path.string() + ": something that is not a regular file is in the way";
            return false;
        }
    }
    const std::string suffix = std::to_string(getpid());
    Entry entry{path, path.string() + ".part" + suffix, path.string() + ".old" + suffix};
    if (!write(entry.temporary.string(), error)) {
        fs::remove(entry.temporary, ec);
        return false;
    }
    entries_.push_back(std::move(entry));
    return true;
}

bool OutputSet::writeBytes(const fs::path& path, Existing existing, const void* data, size_t size, std::string& error,
                           const std::string& name)
{
    return write(path, existing, error, [&](const std::string& temporary, std::string& why) {
        OutputFile file;
        if (!file.open(temporary, "file") || !file.write(data, size) || !file.close()) {
            why = "cannot write " + path.string() + ": " +
                  (file.error().empty() ? std::string("write error") : file.error().substr(file.error().rfind(": ") + 2));
            return false;
        }
        return true;
    }, name);
}

bool OutputSet::makeFolder(const fs::path& folder, std::string& error)
{
    std::error_code ec;
    // The folders still missing, outermost first, so that a failed run removes exactly those.
    std::vector<fs::path> missing;
    for (fs::path p = fs::absolute(folder, ec); !ec && !p.empty(); p = p.parent_path()) {
        if (fs::exists(fs::symlink_status(p, ec))) break;
        missing.insert(missing.begin(), p);
        if (p == p.parent_path()) break;
    }
    for (const fs::path& p : missing) {
        if (!fs::create_directory(p, ec)) break;
        madeFolders_.push_back(p);
    }
    if (ec || !fs::is_directory(folder, ec)) {
        error = "cannot create the folder " + folder.string() + ": " + (ec ? ec.message() : "a file is in the way");
        return false;
    }
    return true;
}

bool OutputSet::commit(std::string& error)
{
    for (Entry& e : entries_) {
        // The old file stays reachable under the backup name until the whole set is in place; a
        // hard link keeps it in place meanwhile, a rename where links are not allowed.
        struct stat old {};
        e.replaced = ::lstat(e.target.c_str(), &old) == 0;
        if (e.replaced && ::link(e.target.c_str(), e.backup.c_str()) != 0 &&
            std::rename(e.target.c_str(), e.backup.c_str()) != 0) {
            error = "cannot write " + e.target.string() + ": " + std::strerror(errno);
            rollBack();
            return false;
        }
        if (std::rename(e.temporary.c_str(), e.target.c_str()) != 0) {
            error = "cannot write " + e.target.string() + ": " + std::strerror(errno);
            if (e.replaced) std::rename(e.backup.c_str(), e.target.c_str());
            rollBack();
            return false;
        }
        e.moved = true;
    }
    std::error_code ec;
    for (const Entry& e : entries_)
        if (e.replaced) fs::remove(e.backup, ec);
    committed_ = true;
    return true;
}

void OutputSet::rollBack()
{
    for (auto e = entries_.rbegin(); e != entries_.rend(); ++e) {
        if (!e->moved) continue;
        if (e->replaced) std::rename(e->backup.c_str(), e->target.c_str());
        else ::unlink(e->target.c_str());
        e->moved = false;
    }
}
