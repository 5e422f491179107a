#include "commandsfile.h"

#include "base/error.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace app
{

base::Error CommandsFile::load(CommandList& list)
{
    if (::access(path_.c_str(), F_OK) != 0)
        return {};
    base::Error error = list.load(path_);
    keepAside_ = !error.ok();
    return error;
}

base::Result<std::string> CommandsFile::save(const CommandList& list)
{
    if (!keepAside_) {
        if (base::Error error = list.save(path_); !error.ok())
            return error;
        return std::string();
    }
    const std::string aside = path_ + std::string(kBrokenSuffix);
    if (std::rename(path_.c_str(), aside.c_str()) != 0 && errno != ENOENT)
        return base::Error(base::Fault::BadInput, 0,
                          base::Error::fromErrno("cannot move " + path_ + " aside").text() +
                              "; the list is not saved");
    keepAside_ = false;
    if (base::Error error = list.save(path_); !error.ok())
        return error;
    return "The file that could not be read is kept as " + aside;
}

} // namespace app
