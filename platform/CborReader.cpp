#include "platform/CborReader.h"

#include <cmath>
#include <limits>

namespace opd::cbor {

double halfToDouble(quint16 bits)
{
    const int exp = (bits >> 10) & 0x1f;
    const int mant = bits & 0x3ff;
    double v;
    if (exp == 0)
        v = std::ldexp(mant, -24);
    else if (exp != 31)
        v = std::ldexp(mant + 1024, exp - 25);
    else
        v = mant == 0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    return (bits & 0x8000) ? -v : v;
}

} // namespace opd::cbor
