#include "commandlist.h"

#include "check/stepaction.h"
#include "protocol/commandframe.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app
{

namespace
{

// The errno of the call that failed, with what was done to which file.
net::Error systemError(const char* what, const std::string& path)
{
    return net::Error::fromErrno(std::string(what) + " " + path);
}

// Makes every missing folder of `folder`, owner-only.
bool makeFolders(const std::string& folder)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

const check::SendStep* CommandList::sendAt(std::size_t index) const
{
    return index < file_.steps.size() ? std::get_if<check::SendStep>(&file_.steps[index].action)
                                      : nullptr;
}

void CommandList::add(std::string name, check::SendStep send)
{
    check::Step step;
    step.name = std::move(name);
    step.action = std::move(send);
    file_.steps.push_back(std::move(step));
}

void CommandList::rename(std::size_t index, std::string name)
{
    file_.steps.at(index).name = std::move(name);
}

void CommandList::replace(std::size_t index, check::SendStep send)
{
    file_.steps.at(index).action = std::move(send);
}

void CommandList::remove(std::size_t index)
{
    if (index < file_.steps.size())
        file_.steps.erase(file_.steps.begin() + static_cast<std::ptrdiff_t>(index));
}

bool CommandList::move(std::size_t from, std::size_t to)
{
    auto& steps = file_.steps;
    if (from >= steps.size() || to >= steps.size())
        return false;
    check::Step step = std::move(steps[from]);
    steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(from));
    steps.insert(steps.begin() + static_cast<std::ptrdiff_t>(to), std::move(step));
    return true;
}

bool CommandList::reorder(const std::vector<std::size_t>& order)
{
    auto& steps = file_.steps;
    if (order.size() != steps.size())
        return false;
    std::vector<bool> seen(steps.size(), false);
    for (const std::size_t index : order) {
        if (index >= steps.size() || seen[index])
            return false;
        seen[index] = true;
    }
    std::vector<check::Step> reordered;
    reordered.reserve(steps.size());
    for (const std::size_t index : order)
        reordered.push_back(std::move(steps[index]));
    steps = std::move(reordered);
    return true;
}

net::Error CommandList::load(const std::string& path)
{
    check::CheckFileResult result = check::loadCheckFile(path);
    if (auto* error = std::get_if<check::CheckFileError>(&result))
        return net::Error(net::Fault::BadInput, 0, error->text());
    file_ = std::move(std::get<check::CheckFile>(result));
    return {};
}

net::Error CommandList::save(const std::string& path) const
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    if (slash != std::string::npos && slash != 0 && !makeFolders(folder))
        return systemError("cannot make the folder", folder);

    const std::string text = check::writeCheckFile(file_);
    std::string temporary = path + ".XXXXXX";
    // mkstemp creates the file 0600.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return systemError("cannot create", temporary);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool ok = written == text.size() && ::fsync(fd) == 0;
    net::Error error = ok ? net::Error() : systemError("cannot write", temporary);
    if (::close(fd) != 0 && error.ok())
        error = systemError("cannot write", temporary);
    if (error.ok() && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = systemError("cannot replace", path);
    if (!error.ok())
        ::unlink(temporary.c_str());
    return error;
}

std::string CommandList::fileText(std::string_view literal)
{
    std::string out;
    for (const char c : literal) {
        out += c;
        if (c == '{')
            out += '{';
    }
    return out;
}

std::string CommandList::literalText(std::string_view fileText)
{
    std::string out;
    for (std::size_t i = 0; i < fileText.size(); ++i) {
        out += fileText[i];
        if (fileText[i] == '{' && i + 1 < fileText.size() && fileText[i + 1] == '{')
            ++i;
    }
    return out;
}

std::string CommandList::summary(const check::Step& step)
{
    std::string line = step.name.empty() ? std::string("(no name)") : step.name;
    line += ": ";
    if (const auto* send = std::get_if<check::SendStep>(&step.action)) {
        if (!send->isFrame)
            return line + "text \"" + send->text + "\"";
        const protocol::FrameFields& f = send->fields;
        return line + f.media + " " + f.deviceId + " " + f.command + " data \"" + f.data +
               "\" message \"" + f.message + "\"";
    }
    return line + (std::holds_alternative<check::ExpectStep>(step.action) ? "expect" : "wait") +
           " (not sendable)";
}

net::Result<check::SendStep> CommandList::fromConsole(protocol::FrameFields fields,
                                                      const std::string& freeText)
{
    fields.media = fields.media.substr(0, protocol::kMediaWidth);
    fields.deviceId = fields.deviceId.substr(0, protocol::kDeviceIdWidth);
    fields.command = fields.command.substr(0, protocol::kCommandWidth);
    check::SendStep send;
    const std::string frameProblem = check::frameFieldsError(fields);
    if (frameProblem.empty()) {
        send.fields = fields;
    } else if (!freeText.empty() && check::freeTextError(freeText).empty()) {
        send.isFrame = false;
        send.text = freeText;
    } else {
        return net::Error(net::Fault::BadInput, 0, frameProblem + ", and the free text is empty");
    }
    protocol::FrameFields& f = send.fields;
    for (std::string* t : {&f.media, &f.deviceId, &f.data, &f.command, &f.message, &send.text})
        *t = fileText(*t);
    return send;
}

} // namespace app
