#include "reportfile.h"

#include "fileio/safefile.h"

#include <filesystem>

namespace check
{

namespace
{

// The file a path names, links in its folders followed, so that "out.xml",
// "./out.xml" and "dir/../out.xml" compare equal.
std::filesystem::path fileOf(const std::string& path)
{
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    std::filesystem::path file = std::filesystem::weakly_canonical(absolute, ignored);
    return file.empty() ? absolute.lexically_normal() : file;
}

} // namespace

base::Error ReportFile::write(const std::string& path, std::string_view text)
{
    return fileio::SafeFile::write(path, text);
}

base::Error ReportFile::checkAll(const std::vector<std::string>& paths)
{
    std::vector<std::filesystem::path> seen;
    for (const std::string& path : paths) {
        if (path.empty()) {
            continue;
        }
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (seen[i] == fileOf(path)) {
                return base::Error(base::Fault::BadInput, 0,
                                  path + " is named for two reports: give each its own file");
            }
        }
        seen.push_back(fileOf(path));
        if (base::Error error = fileio::SafeFile::check(path); !error.ok()) {
            return error;
        }
    }
    return {};
}

} // namespace check
