#include "commandlist.h"

#include "check/stepaction.h"
#include "fileio/safefile.h"
#include "protocol/commandframe.h"

#include <sys/stat.h>

#include <cerrno>

namespace app
{

namespace
{

// The errno of the call that failed, with what was done to which file.
base::Error systemError(const char* what, const std::string& path)
{
    return base::Error::fromErrno(std::string(what) + " " + path);
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

base::Error CommandList::load(const std::string& path)
{
    base::Result<check::CheckFile> result = check::loadCheckFile(path);
    if (!result)
        return result.error();
    file_ = std::move(*result);
    return {};
}

base::Error CommandList::save(const std::string& path) const
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    if (slash != std::string::npos && slash != 0 && !makeFolders(folder))
        return systemError("cannot make the folder", folder);

    return fileio::SafeFile::write(path, check::writeCheckFile(file_));
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

base::Result<check::SendStep> CommandList::fromConsole(protocol::FrameFields fields,
                                                      const std::string& freeText)
{
    fields.media = fields.media.substr(0, protocol::kMediaWidth);
    fields.deviceId = fields.deviceId.substr(0, protocol::kDeviceIdWidth);
    fields.command = fields.command.substr(0, protocol::kCommandWidth);
    check::SendStep send;
    const std::string frameProblem = check::frameFieldsError(fields).text();
    if (frameProblem.empty()) {
        send.fields = fields;
    } else if (!freeText.empty() && check::freeTextError(freeText).ok()) {
        send.isFrame = false;
        send.text = freeText;
    } else {
        return base::Error(base::Fault::BadInput, 0, frameProblem + ", and the free text is empty");
    }
    protocol::FrameFields& f = send.fields;
    for (std::string* t : {&f.media, &f.deviceId, &f.data, &f.command, &f.message, &send.text})
        *t = fileText(*t);
    return send;
}

} // namespace app
