#pragma once
// Writes an answer as it is produced, in the encoding of the request: CBOR or
// JSON text, both encoded by hand (QJsonDocument would need the whole answer
// in memory as QJsonValues). Both write to a QIODevice, normally a SinkDevice
// that hands 64 KiB pieces to the socket; CBOR is gathered in pieces first
// and reaches the device once per piece and at the end of each top-level item.

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
    virtual ~ReplyWriter() = default;
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

    // True once the bytes can no longer reach the client; long writers poll it.
    void setAbortCheck(std::function<bool()> check) { m_abortCheck = std::move(check); }
    bool aborted() const { return m_abortCheck && m_abortCheck(); }

private:
    std::function<bool()> m_abortCheck;
};

class CborReplyWriter : public ReplyWriter
{
public:
    explicit CborReplyWriter(QIODevice *device);
    ~CborReplyWriter() override;
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

    static constexpr size_t kPieceBytes = 64 * 1024;

private:
    void head(unsigned major, quint64 value);
    void item(const char *bytes, size_t size) { m_buffer.append(bytes, size); }
    void ended();   // after each complete item
    void flush();

    QIODevice *m_device;
    std::string m_buffer;
    std::vector<bool> m_indefinite;   // one entry per open container
};

class JsonReplyWriter : public ReplyWriter
{
public:
    explicit JsonReplyWriter(QIODevice *device);
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
    void raw(QByteArrayView bytes) { m_device->write(bytes.data(), bytes.size()); }

    QIODevice *m_device;
    std::vector<bool> m_first;   // one entry per open container
    bool m_afterKey = false;
};

} // namespace opd::appserver
