#pragma once
// Resumable reader of a CBOR answer, fed with the body's bytes as they
// arrive. The envelope (jsonrpc, id, result/error, ok, message, scalar
// payloads) is small and decoded here into a QVariant tree; every map met
// where a payload value is expected ("payload" of the "result" map, or an
// element of an array there) is a data packet and its bytes go straight to
// opd::DataPacketReader, which says where the packet ended so reading goes
// on after it. No copy of the whole body is ever made.
//
// Tree: maps as QVariantMap (text keys only, no duplicates), arrays as
// QVariantList, text as QString (valid UTF-8 only), integers as qint64,
// floats as double, null/undefined as an invalid QVariant, booleans as bool,
// byte strings as QByteArray, packets as opd::DataPacket. Tags are skipped.
// What it means is checked afterwards (RpcAnswer::interpret).

#include <QByteArrayView>
#include <QString>
#include <QVariant>
#include <memory>

class RpcAnswerReader
{
public:
    enum Status { NeedMore, Done, Error };

    RpcAnswerReader();
    ~RpcAnswerReader();
    RpcAnswerReader(const RpcAnswerReader &) = delete;
    RpcAnswerReader &operator=(const RpcAnswerReader &) = delete;

    // Takes all of `data`. Bytes after a complete answer are an error.
    Status feed(QByteArrayView data);
    // The body ended: an answer that is not complete by now is truncated.
    Status finish();

    Status status() const;
    QString errorString() const;        // a whole Portuguese sentence, after Error
    qint64 bytesFed() const;
    QVariant take();                    // after Done

private:
    struct Private;
    std::unique_ptr<Private> d;
};
