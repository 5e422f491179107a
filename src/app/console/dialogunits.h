#pragma once

#include <QRect>
#include <QSize>

class QFont;

namespace app
{

// Dialog units: the font-relative coordinates in which the console's template
// gives every box. One horizontal unit is a quarter of the font's average
// character width, one vertical unit an eighth of its height, so a window laid
// out in these units keeps its proportions at any font size or screen scale.
//
// The average width is that of the 52 letters A-Z and a-z divided by 52 and
// rounded; the height is the font's line height. A plain value; any thread.
class DialogUnits
{
public:
    static constexpr int kUnitsPerCharWidth = 4;
    static constexpr int kUnitsPerCharHeight = 8;
    static constexpr int kAlphabetLength = 52;

    explicit DialogUnits(const QFont& font);
    // Base units given directly, in pixels (each at least 1).
    DialogUnits(int charWidth, int charHeight);

    int charWidth() const { return charWidth_; }
    int charHeight() const { return charHeight_; }

    // Units to pixels, each value rounded on its own (halves away from zero).
    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(int x, int y, int width, int height) const;
    QSize toPixels(int width, int height) const;

private:
    int charWidth_;
    int charHeight_;
};

} // namespace app
