#include "besideplace.h"

#include "commandsettings.h"

#include <QAbstractScrollArea>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace app
{

namespace
{

constexpr int kGap = 8;

// The usual sizes (frame included) of the side windows, by SideSlot.
const QSize kUsualSizes[] = {QSize(760, 520), QSize(560, 640), QSize(560, 360)};
// The narrowest the side windows can be, frame included.
constexpr int kUsualMinimumWidth = 560;

// The frames of `sizes` in `area`, one below the other and then in further
// columns; nothing when they do not fit so.
std::optional<std::vector<QRect>> inColumns(const QRect& area, const std::vector<QSize>& sizes)
{
    std::vector<QRect> places;
    int x = area.left();
    int y = area.top();
    int columnWidth = 0;
    for (const QSize& size : sizes) {
        const QSize cut = size.boundedTo(area.size());
        if (y + cut.height() - 1 > area.bottom()) {
            x += columnWidth + kGap;
            y = area.top();
            columnWidth = 0;
        }
        if (x + cut.width() - 1 > area.right())
            return std::nullopt;
        places.emplace_back(QPoint(x, y), cut);
        y += cut.height() + kGap;
        columnWidth = std::max(columnWidth, cut.width());
    }
    return places;
}

// One below the other, each an equal share of the area's height.
std::vector<QRect> shared(const QRect& area, const std::vector<QSize>& sizes)
{
    std::vector<QRect> places;
    const int count = static_cast<int>(sizes.size());
    const int share = count > 0 ? (area.height() - kGap * (count - 1)) / count : 0;
    int y = area.top();
    for (const QSize& size : sizes) {
        places.emplace_back(QPoint(area.left(), y),
                            QSize(std::min(size.width(), area.width()), std::max(1, share)));
        y += share + kGap;
    }
    return places;
}

std::vector<QRect> placeIn(const QRect& area, const std::vector<QSize>& sizes)
{
    if (auto columns = inColumns(area, sizes))
        return *columns;
    return shared(area, sizes);
}

} // namespace

SidePlaces sidePlaces(const QRect& console, const QRect& coverable, const std::vector<QSize>& sizes,
                      int minimumWidth, const QRect& screen)
{
    const auto rightOf = [&](const QRect& at) {
        return QRect(QPoint(at.right() + 1 + kGap, screen.top()), screen.bottomRight());
    };
    const QRect right = rightOf(console);
    const QRect left(screen.topLeft(), QPoint(console.left() - 1 - kGap, screen.bottom()));
    if (right.width() >= minimumWidth)
        return {std::nullopt, placeIn(right, sizes)};
    if (left.width() >= minimumWidth)
        return {std::nullopt, placeIn(left, sizes)};
    if (screen.width() - console.width() - kGap >= minimumWidth) {
        const QRect moved(QPoint(screen.left(), std::max(console.top(), screen.top())),
                          console.size());
        return {moved.topLeft(), placeIn(rightOf(moved), sizes)};
    }
    QRect area = QRect(coverable.topLeft(), screen.bottomRight()).intersected(screen);
    if (area.isEmpty())
        area = screen;
    area.setLeft(std::max(screen.left(), std::min(area.left(), screen.right() + 1 - minimumWidth)));
    return {std::nullopt, placeIn(area, sizes)};
}

void restoreOrPlaceBeside(QWidget& window, QWidget* console, const QSize& minimum,
                          const QString& key, SideSlot slot)
{
    if (!console)
        return;
    // Kept above the console by the window manager, as a dialog is.
    window.winId();
    if (QWindow* above = console->window()->windowHandle())
        window.windowHandle()->setTransientParent(above);
    if (window.restoreGeometry(commandSettings().value(key).toByteArray()))
        return;
    window.resize(window.size().expandedTo(minimum));
    const QRect screen = console->screen()->availableGeometry();
    // What the side windows may cover on a small screen: the console right
    // of its message view and below its buttons.
    QRect coverable = console->frameGeometry();
    const int buttonBand = coverable.top() + coverable.height() / 5;
    for (const QWidget* child : console->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect at(child->mapToGlobal(QPoint(0, 0)), child->size());
        if (qobject_cast<const QAbstractScrollArea*>(child))
            coverable.setLeft(std::max(coverable.left(), at.right() + 1 + kGap));
        else if (qobject_cast<const QPushButton*>(child) && at.top() < buttonBand)
            coverable.setTop(std::max(coverable.top(), at.bottom() + 1 + kGap));
    }
    std::vector<QSize> sizes(std::begin(kUsualSizes), std::end(kUsualSizes));
    // A window not yet shown has no frame yet: the console's stands for it.
    QSize margins = window.frameGeometry().size() - window.size();
    QPoint inset = window.geometry().topLeft() - window.frameGeometry().topLeft();
    if (margins.isNull()) {
        margins = console->frameGeometry().size() - console->size();
        inset = console->geometry().topLeft() - console->frameGeometry().topLeft();
    }
    const auto index = static_cast<std::size_t>(slot);
    sizes[index] = window.size() + margins;
    const int minimumWidth =
        std::max(kUsualMinimumWidth, window.minimumSizeHint().width() + margins.width());
    const SidePlaces places =
        sidePlaces(console->frameGeometry(), coverable, sizes, minimumWidth, screen);
    if (places.console)
        console->move(*places.console);
    const QRect place = places.windows[index];
    // The window inside its frame: a window manager frames it only once it is
    // shown, and then puts the frame around where the window stands.
    window.setGeometry(
        QRect(place.topLeft() + inset, (place.size() - margins).expandedTo(QSize(1, 1))));
}

void rememberPlace(const QWidget& window, const QString& key)
{
    commandSettings().setValue(key, window.saveGeometry());
}

} // namespace app
