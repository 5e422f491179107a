#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace app
{

// The console's side windows, in the order they take the room beside it.
enum class SideSlot { Traffic, Commands, Devices };

// Where the side windows go (frames, frame included, indexed by SideSlot)
// for `sizes` beside `console` within the work area `screen`, none covering
// another nor the console: in the free strip beside the console (right
// first, then left) that is at least `minimumWidth` wide, one below the
// other and then in further columns, each cut to the strip; when they do not
// fit so, one below the other, sharing the strip's height. When neither
// strip is wide enough but the screen is, the console moves to the work
// area's left edge (`console` then says where) and they go to its right. On
// a smaller screen they go in the same way into `coverable` (the part of the
// console they may cover: not its message view nor its buttons) widened to
// the screen's right and bottom edges, and moved left as far as
// `minimumWidth` needs to stay on the screen. Pure.
struct SidePlaces {
    std::optional<QPoint> console;
    std::vector<QRect> windows;
};
SidePlaces sidePlaces(const QRect& console, const QRect& coverable, const std::vector<QSize>& sizes,
                      int minimumWidth, const QRect& screen);

// For a window's first showing: restores the geometry kept in the console's
// settings under `key`; when there is none, gives `window` at least
// `minimum` and places it in its slot of sidePlaces() (the other slots at
// their usual sizes), moving the console when that says so. The window is
// kept above the console (its transient parent). UI thread.
void restoreOrPlaceBeside(QWidget& window, QWidget* console, const QSize& minimum,
                          const QString& key, SideSlot slot);
// Keeps `window`'s size and place in the console's settings under `key`.
void rememberPlace(const QWidget& window, const QString& key);

} // namespace app
