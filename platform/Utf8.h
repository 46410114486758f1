#pragma once
// UTF-8 checks on raw cell bytes, without building QStrings.

#include <QByteArrayView>
#include <cstdint>

namespace opd::utf8 {

// Number of characters in `bytes`, or -1 when they are not well-formed UTF-8
// (overlong forms, surrogates and values above U+10FFFF are refused).
inline qsizetype countChars(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data());
    const auto *end = p + bytes.size();
    qsizetype chars = 0;
    while (p < end) {
        // Most cells are ASCII: take eight bytes at a time while they are.
        while (end - p >= 8) {
            std::uint64_t w;
            __builtin_memcpy(&w, p, 8);
            if (w & 0x8080808080808080ull)
                break;
            p += 8;
            chars += 8;
        }
        if (p >= end)
            break;
        const std::uint8_t b = *p;
        if (b < 0x80) {
            ++p;
        } else if (b >= 0xC2 && b <= 0xDF) {
            if (end - p < 2 || (p[1] & 0xC0) != 0x80)
                return -1;
            p += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
                return -1;
            const unsigned cp = ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
                return -1;
            p += 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            if (end - p < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80
                || (p[3] & 0xC0) != 0x80)
                return -1;
            const unsigned cp = ((b & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12)
                | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
            if (cp < 0x10000 || cp > 0x10FFFF)
                return -1;
            p += 4;
        } else {
            return -1;
        }
        ++chars;
    }
    return chars;
}

// Characters of text already known to be UTF-8 (the request decoder and the
// databases check it): every byte that does not continue a sequence starts one.
inline qsizetype leadBytes(QByteArrayView bytes)
{
    qsizetype n = 0;
    for (char c : bytes)
        n += (static_cast<std::uint8_t>(c) & 0xC0) != 0x80;
    return n;
}

// The longest prefix of `bytes` that holds at most `chars` characters. Counts
// lead bytes only, so bytes that are not UTF-8 are cut without a check.
inline QByteArrayView clip(QByteArrayView bytes, qsizetype chars)
{
    // Fewer bytes than the limit cannot hold more characters than it.
    if (bytes.size() <= chars)
        return bytes;
    qsizetype seen = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if ((static_cast<std::uint8_t>(bytes[i]) & 0xC0) != 0x80) {
            if (seen == chars)
                return bytes.first(i);
            ++seen;
        }
    }
    return bytes;
}

} // namespace opd::utf8
