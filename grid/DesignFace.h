#pragma once
// The face the screens' forms were drawn for, and how their widths follow the
// font a widget actually uses.
//
// The forms give widths in pixels for an 8-point face at 96 dots per inch
// whose 52 Latin letters (A-Z, a-z) average 5.75 px. The faces met on a
// clerk's desktop are wider (DejaVu Sans at 8 points averages 6.8 px), and a
// display may have more dots per inch: a width drawn for the design face is
// multiplied by the ratio of the two averages, so that what fitted the drawn
// width fits the scaled one. A face narrower than the design face keeps the
// drawn widths: the forms around the columns are not drawn any smaller.

#include <QFont>

namespace opd {

// Average advance of the Latin letters in the design face, in pixels.
inline constexpr double kDesignLetterWidth = 5.75;

// Ratio of the font's average Latin letter to the design face's; at least 1.
double designScale(const QFont &font);
// A width drawn for the design face, scaled for the font (rounded up).
int scaledWidth(int designWidth, const QFont &font);

} // namespace opd
