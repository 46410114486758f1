#include "grid/DesignFace.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace opd {

double designScale(const QFont &font)
{
    // The whole alphabet rather than QFontMetrics::averageCharWidth(): the
    // latter is the font file's own figure, which some faces state for all
    // of Unicode and others leave at zero.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double average = QFontMetricsF(font).horizontalAdvance(letters) / double(letters.size());
    return std::max(1.0, average / kDesignLetterWidth);
}

int scaledWidth(int designWidth, const QFont &font)
{
    // Rounded up: a title that needed every pixel of the drawn width must not
    // lose the last one to rounding.
    return int(std::ceil(designWidth * designScale(font) - 1e-9));
}

} // namespace opd
