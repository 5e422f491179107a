#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace app
{

// Where a window of `size` (frame included) goes beside `console` on
// `screen`, a few pixels apart: to its right, else its left, else below,
// else above, its other coordinate kept on the screen; nothing when no side
// has room. Pure.
std::optional<QPoint> besidePlace(const QRect& console, const QSize& size, const QRect& screen);

} // namespace app
