#pragma once
// Shared by the libFuzzer targets: a check that ends the run (so libFuzzer
// keeps the input as a crash) and chunk sizes for feeding a reader in pieces.

#include <QByteArrayView>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// A property every input must keep; a broken one is a finding.
inline void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz: property broken: %s\n", what);
        std::abort();
    }
}

// Chunk sizes drawn from the input itself, so one input always splits the
// same way and a crash reproduces. Mostly small pieces (a head split from
// its value, a text split inside a UTF-8 sequence), now and then a large one.
class Chunks
{
public:
    explicit Chunks(QByteArrayView data)
    {
        for (char c : data)
            m_state = (m_state ^ quint8(c)) * 0x100000001b3ULL;
    }
    qsizetype next()
    {
        m_state += 0x9e3779b97f4a7c15ULL;
        quint64 z = m_state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        return (z & 7) == 0 ? qsizetype(z >> 40) % 4096 + 1 : qsizetype(z >> 40) % 9 + 1;
    }

private:
    quint64 m_state = 0xcbf29ce484222325ULL;
};

} // namespace fuzz
