#pragma once

#include <QString>

#include <cstddef>
#include <string_view>

namespace app::trafficframes
{

// How the Traffic window shows a record's frames, the items that
// traffic::RecordFrames gave it (separated by traffic::FrameStream's item
// separator). Plain functions of their arguments; any thread.

// The separator between items on one line: in a cell, a copied row and a
// saved file.
inline constexpr std::string_view kOnOneLine = " | ";

// The items on one line.
QString oneLine(std::string_view frames);
// A cell's text: at most `limit` bytes of the items on one line, then "…"
// when there were more.
QString cell(std::string_view frames, std::size_t limit);
// One item a line, each line ended (for the detail pane and the tool tip).
QString lines(std::string_view frames);

} // namespace app::trafficframes
