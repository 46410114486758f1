#pragma once
// Writes an answer as it is produced, in the encoding of the request: CBOR or
// JSON text, both encoded by hand (QJsonDocument would need the whole answer
// in memory as QJsonValues). Both encode into a piece of about 64 KiB that is
// handed on when full: to a receiver that takes the piece's string itself
// (the server queues it for the socket as it is, with no copy), or written to
// a QIODevice, which also gets it at the end of each top-level item.

#include <QByteArrayView>
#include <QIODevice>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace opd::appserver {

class ReplyWriter
{
public:
    // Takes a piece of the answer; it may move the string out, and the writer
    // starts the next piece in whatever is left of it. False: the bytes can no
    // longer reach the client; later pieces are dropped and aborted() is true.
    // A writer made for a receiver hands on full pieces only and nothing when
    // destroyed: until flush() ends the answer, a failure with less than a
    // piece written can still be answered properly. One made for a device
    // writes at the end of each top-level item and the rest when destroyed.
    using PieceReceiver = std::function<bool(std::string &piece)>;
    static constexpr size_t kPieceBytes = 64 * 1024;

    virtual ~ReplyWriter();
    // count < 0: length not known in advance (CBOR indefinite).
    virtual void beginMap(qsizetype count) = 0;
    virtual void endMap() = 0;
    virtual void beginArray(qsizetype count) = 0;
    virtual void endArray() = 0;
    virtual void key(QByteArrayView latin1) = 0;
    virtual void text(QByteArrayView utf8) = 0;
    virtual void number(double value) = 0;
    virtual void integer(qint64 value) = 0;
    virtual void boolean(bool value) = 0;
    virtual void null() = 0;

    static std::unique_ptr<ReplyWriter> create(bool cbor, QIODevice *device);
    static std::unique_ptr<ReplyWriter> create(bool cbor, PieceReceiver receiver,
                                               size_t pieceBytes = kPieceBytes);

    // Hands on what is gathered; false once a piece was refused.
    bool flush();

    // True once the bytes can no longer reach the client; long writers poll it.
    bool aborted() const { return m_refused; }

protected:
    explicit ReplyWriter(QIODevice *device);
    ReplyWriter(PieceReceiver receiver, size_t pieceBytes);
    bool full() const { return m_piece.size() >= m_pieceBytes; }
    bool toDevice() const { return m_toDevice; }

    std::string m_piece;

private:
    PieceReceiver m_receiver;
    size_t m_pieceBytes;
    bool m_refused = false;
    bool m_toDevice = false;
};

class CborReplyWriter : public ReplyWriter
{
public:
    explicit CborReplyWriter(QIODevice *device);
    CborReplyWriter(PieceReceiver receiver, size_t pieceBytes = kPieceBytes);
    void beginMap(qsizetype count) override;
    void endMap() override;
    void beginArray(qsizetype count) override;
    void endArray() override;
    void key(QByteArrayView latin1) override;
    void text(QByteArrayView utf8) override;
    void number(double value) override;
    void integer(qint64 value) override;
    void boolean(bool value) override;
    void null() override;

private:
    void head(unsigned major, quint64 value);
    void item(const char *bytes, size_t size) { m_piece.append(bytes, size); }
    void ended();   // after each complete item

    std::vector<bool> m_indefinite;   // one entry per open container
};

class JsonReplyWriter : public ReplyWriter
{
public:
    explicit JsonReplyWriter(QIODevice *device);
    JsonReplyWriter(PieceReceiver receiver, size_t pieceBytes = kPieceBytes);
    void beginMap(qsizetype count) override;
    void endMap() override;
    void beginArray(qsizetype count) override;
    void endArray() override;
    void key(QByteArrayView latin1) override;
    void text(QByteArrayView utf8) override;
    void number(double value) override;
    void integer(qint64 value) override;
    void boolean(bool value) override;
    void null() override;

private:
    void separate();
    void raw(QByteArrayView bytes) { m_piece.append(bytes.data(), size_t(bytes.size())); }
    void closed();   // after a container's closing bracket

    std::vector<bool> m_first;   // one entry per open container
    bool m_afterKey = false;
};

} // namespace opd::appserver
