#include "commandsfile.h"

#include "base/error.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace app
{

std::string CommandsFile::load(CommandList& list)
{
    if (::access(path_.c_str(), F_OK) != 0)
        return {};
    if (auto error = list.load(path_)) {
        keepAside_ = true;
        return *error;
    }
    return {};
}

std::string CommandsFile::save(const CommandList& list)
{
    if (!keepAside_)
        return list.save(path_).value_or(std::string());
    const std::string aside = path_ + std::string(kBrokenSuffix);
    if (std::rename(path_.c_str(), aside.c_str()) != 0 && errno != ENOENT)
        return base::Error::fromErrno("cannot move " + path_ + " aside").text() +
               "; the list is not saved";
    keepAside_ = false;
    if (auto error = list.save(path_))
        return *error;
    return "The file that could not be read is kept as " + aside;
}

} // namespace app
