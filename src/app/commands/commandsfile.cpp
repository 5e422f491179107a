#include "commandsfile.h"

#include "socket/error.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace app
{

net::Error CommandsFile::load(CommandList& list)
{
    if (::access(path_.c_str(), F_OK) != 0)
        return {};
    net::Error error = list.load(path_);
    keepAside_ = !error.ok();
    return error;
}

net::Result<std::string> CommandsFile::save(const CommandList& list)
{
    if (!keepAside_) {
        if (net::Error error = list.save(path_); !error.ok())
            return error;
        return std::string();
    }
    const std::string aside = path_ + std::string(kBrokenSuffix);
    if (std::rename(path_.c_str(), aside.c_str()) != 0 && errno != ENOENT)
        return net::Error(net::Fault::BadInput, 0,
                          net::Error::fromErrno("cannot move " + path_ + " aside").text() +
                              "; the list is not saved");
    keepAside_ = false;
    if (net::Error error = list.save(path_); !error.ok())
        return error;
    return "The file that could not be read is kept as " + aside;
}

} // namespace app
