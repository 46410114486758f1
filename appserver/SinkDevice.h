#pragma once
// A write-only QIODevice that gathers bytes and hands them on in pieces of
// 64 KiB (the socket write per chunk of a chunked answer). When the receiver
// refuses a piece (the client went away) every later write fails, so the
// producer stops at its next row.

#include <QIODevice>
#include <functional>

namespace opd::appserver {

class SinkDevice : public QIODevice
{
public:
    using Receiver = std::function<bool(const char *data, size_t size)>;
    explicit SinkDevice(Receiver receiver, qsizetype pieceSize = 64 * 1024);
    ~SinkDevice() override;

    // Hands on what is gathered; false when the receiver refused.
    bool flushPiece();
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    Receiver m_receiver;
    QByteArray m_buffer;
    qsizetype m_pieceSize;
    bool m_failed = false;
};

} // namespace opd::appserver
