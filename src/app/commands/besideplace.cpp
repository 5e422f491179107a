#include "besideplace.h"

#include "commandsettings.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace app
{

namespace
{

constexpr int kGap = 8;

} // namespace

std::optional<QPoint> besidePlace(const QRect& console, const QSize& size, const QRect& screen)
{
    const auto within = [](int at, int length, int low, int high) {
        return std::max(low, std::min(at, high - length + 1));
    };
    const int y = within(console.top(), size.height(), screen.top(), screen.bottom());
    const int x = within(console.left(), size.width(), screen.left(), screen.right());
    // QRect's right() and bottom() are the last pixel inside.
    const int right = console.right() + 1 + kGap;
    const int below = console.bottom() + 1 + kGap;
    if (right + size.width() - 1 <= screen.right())
        return QPoint(right, y);
    if (console.left() - kGap - size.width() >= screen.left())
        return QPoint(console.left() - kGap - size.width(), y);
    if (below + size.height() - 1 <= screen.bottom())
        return QPoint(x, below);
    if (console.top() - kGap - size.height() >= screen.top())
        return QPoint(x, console.top() - kGap - size.height());
    return std::nullopt;
}

void restoreOrPlaceBeside(QWidget& window, const QWidget* console, const QSize& minimum,
                          const QString& key)
{
    if (window.restoreGeometry(commandSettings().value(key).toByteArray()) || !console)
        return;
    window.resize(window.size().expandedTo(minimum));
    // move() places the frame's corner; the frame is taken as the window's
    // own margins around it.
    const std::optional<QPoint> place =
        besidePlace(console->frameGeometry(), window.frameGeometry().size(),
                    console->screen()->availableGeometry());
    if (place)
        window.move(*place);
}

void rememberPlace(const QWidget& window, const QString& key)
{
    commandSettings().setValue(key, window.saveGeometry());
}

} // namespace app
