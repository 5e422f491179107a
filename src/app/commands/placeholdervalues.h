#pragma once

#include "check/checkfile.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace app
{

// The values the Commands window fills a check file's placeholders with
// before a Run or a saved command's send: the file's own defaults first
// ([values]), then what the console knows (its connection's {host} and
// {port}, its {media} and {id} fields), then what the operator gave before in
// this session, and for anything still missing the operator is asked (by
// `ask`, a dialog unless set otherwise; nothing when cancelled). What was
// asked is kept until the window goes. UI thread only.
class PlaceholderValues
{
public:
    // The value for `name`, or nothing when the operator gives none.
    using Ask = std::function<std::optional<std::string>(const std::string& name)>;

    explicit PlaceholderValues(Ask ask) : ask_(std::move(ask)) {}
    void setAsk(Ask ask) { ask_ = std::move(ask); }

    // Values for every name in `needed`, or the first name no one gave.
    struct Resolved {
        check::DeviceValues values;
        std::string missing; // empty when every name has its value
    };
    Resolved resolve(const check::CheckFile& file, const check::DeviceValues& console,
                     const std::vector<std::string>& needed);

    const check::DeviceValues& given() const { return given_; }

private:
    Ask ask_;
    check::DeviceValues given_;
};

} // namespace app
