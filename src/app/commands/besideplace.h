#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

namespace app
{

// Where a window of `size` (frame included) goes beside `console` on
// `screen`, a few pixels apart: to its right, else its left, else below,
// else above, its other coordinate kept on the screen; nothing when no side
// has room. Pure.
std::optional<QPoint> besidePlace(const QRect& console, const QSize& size, const QRect& screen);

// For a window's first showing: restores the geometry kept in the console's
// settings under `key`; when there is none, gives `window` at least
// `minimum` and moves it beside `console` (besidePlace on the console's
// screen), or leaves it where it is without room. UI thread.
void restoreOrPlaceBeside(QWidget& window, const QWidget* console, const QSize& minimum,
                          const QString& key);
// Keeps `window`'s size and place in the console's settings under `key`.
void rememberPlace(const QWidget& window, const QString& key);

} // namespace app
