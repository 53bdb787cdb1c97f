#include "dialogs/dialog_units.hpp"

#include <QFontMetrics>

namespace korvane::ui {

namespace {

// a * b / c rounded to the nearest, halves away from zero.
int mulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    // The average width of the 52 letters, rounded, and the font's height,
    // as dialog managers measure a dialog font.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = std::max(1, (letters / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::toPixelsX(int dlu) const {
    return mulDiv(dlu, baseX_, 4);
}

int DialogUnits::toPixelsY(int dlu) const {
    return mulDiv(dlu, baseY_, 8);
}

QRect DialogUnits::toPixels(const DluRect& r) const {
    const int left = toPixelsX(r.x);
    const int top = toPixelsY(r.y);
    return {left, top, toPixelsX(r.x + r.width) - left, toPixelsY(r.y + r.height) - top};
}

QSize DialogUnits::toPixels(const QSize& dlu) const {
    return {toPixelsX(dlu.width()), toPixelsY(dlu.height())};
}

} // namespace korvane::ui
