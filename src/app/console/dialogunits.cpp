#include "dialogunits.h"

#include <QFont>
#include <QFontMetrics>

#include <algorithm>

namespace app
{

namespace
{

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
static_assert(sizeof(kAlphabet) - 1 == DialogUnits::kAlphabetLength);

// value * numerator / denominator, rounded half away from zero.
int scaleRounded(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long rounded =
        product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    return static_cast<int>(rounded);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // Halving after dividing by 26 rounds the width of one letter to the nearest
    // pixel without floating point, as the unit's definition asks.
    const int alphabetWidth = metrics.horizontalAdvance(QLatin1String(kAlphabet));
    charWidth_ = std::max(1, (alphabetWidth / (kAlphabetLength / 2) + 1) / 2);
    charHeight_ = std::max(1, metrics.height());
}

DialogUnits::DialogUnits(int charWidth, int charHeight)
    : charWidth_(std::max(1, charWidth)), charHeight_(std::max(1, charHeight))
{
}

int DialogUnits::toPixelsX(int units) const
{
    return scaleRounded(units, charWidth_, kUnitsPerCharWidth);
}

int DialogUnits::toPixelsY(int units) const
{
    return scaleRounded(units, charHeight_, kUnitsPerCharHeight);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const
{
    return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

QSize DialogUnits::toPixels(int width, int height) const
{
    return QSize(toPixelsX(width), toPixelsY(height));
}

} // namespace app
