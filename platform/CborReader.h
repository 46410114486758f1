#pragma once
// The basics every CBOR reader of ours shares: item heads and their lengths,
// the rules for indefinite lengths, the three float widths, UTF-8 validity of
// text strings and the limits on sizes and nesting. The data packet reader
// and the client's answer reader are built on these, so both refuse the same
// malformed input the same way, whole or in pieces.
//
// Everything works on a byte range [p, end) that may stop anywhere: a head
// cut off at the end asks for more bytes instead of failing.

#include "platform/Utf8.h"

#include <QByteArrayView>
#include <QtEndian>
#include <cstring>

namespace opd::cbor {

enum Major : int {
    Unsigned = 0, Negative = 1, Bytes = 2, Text = 3, Array = 4, Map = 5, Tag = 6, Simple = 7
};

// Simple values and float widths of major type 7, by additional info.
enum SimpleInfo : int {
    False = 20, True = 21, Null = 22, Undefined = 23, SimpleByte = 24,
    Half = 25, Single = 26, Double = 27, Break = 31
};

constexpr unsigned char NullByte = 0xf6;
constexpr unsigned char BreakByte = 0xff;

// Nesting no answer of ours comes near; deeper input is refused before it
// can grow a reader's stack without end.
constexpr int MaxDepth = 32;

struct Head
{
    int major = 0;
    int info = 0;              // additional information, the low five bits
    quint64 value = 0;         // the argument: length, count, integer or float bits
    bool indefinite = false;   // a string, array or map of indefinite length

    bool isBreak() const { return major == Simple && info == Break; }
};

// Reads the head at p. Returns its size in bytes, 0 when the range ends
// inside it, -1 when it is malformed: additional information 28-30, an
// indefinite length on a type that has none (integers, tags, two-byte simple
// values), or a two-byte simple value below 32. Always inlined: it is the
// inner step of every cell.
Q_ALWAYS_INLINE int readHead(const uchar *p, const uchar *end, Head &h)
{
    if (p >= end)
        return 0;
    h.major = p[0] >> 5;
    h.info = p[0] & 0x1f;
    h.indefinite = false;
    if (h.info < 24) {
        h.value = quint64(h.info);
        return 1;
    }
    int extra;
    switch (h.info) {
    case 24: extra = 1; break;
    case 25: extra = 2; break;
    case 26: extra = 4; break;
    case 27: extra = 8; break;
    case 31:
        if (h.major == Unsigned || h.major == Negative || h.major == Tag)
            return -1;
        h.value = 0;
        h.indefinite = h.major != Simple;
        return 1;
    default:
        return -1;
    }
    if (end - p < 1 + extra)
        return 0;
    switch (extra) {
    case 1: h.value = p[1]; break;
    case 2: h.value = qFromBigEndian<quint16>(p + 1); break;
    case 4: h.value = qFromBigEndian<quint32>(p + 1); break;
    default: h.value = qFromBigEndian<quint64>(p + 1); break;
    }
    if (h.major == Simple && h.info == SimpleByte && h.value < 32)
        return -1;
    return 1 + extra;
}

double halfToDouble(quint16 bits);

inline double singleToDouble(quint32 bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline double doubleFromBits(quint64 bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The value of a float head (half, single or double width); false for any
// other head.
inline bool floatValue(const Head &h, double *value)
{
    if (h.major != Simple)
        return false;
    switch (h.info) {
    case Half: *value = halfToDouble(quint16(h.value)); return true;
    case Single: *value = singleToDouble(quint32(h.value)); return true;
    case Double: *value = doubleFromBits(h.value); return true;
    default: return false;
    }
}

// True when a definite string of `length` bytes after a head of `headSize`
// bytes at p is all inside [p, end).
inline bool hasPayload(const uchar *p, const uchar *end, int headSize, quint64 length)
{
    return quint64(end - p - headSize) >= length;
}

// Text strings must be well-formed UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF); returns their number of characters, -1 otherwise.
inline qsizetype textChars(QByteArrayView bytes)
{
    return utf8::countChars(bytes);
}

} // namespace opd::cbor
