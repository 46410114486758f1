// The client's answer reader (RpcAnswerReader) on arbitrary bodies, fed whole
// and in pieces: the same status either way, and an error always explained.
#include "FuzzSupport.h"

#include "server/RpcAnswerReader.h"

namespace {

RpcAnswerReader::Status read(QByteArrayView data, bool inPieces, QVariant *tree)
{
    RpcAnswerReader reader;
    fuzz::Chunks chunks(data);
    RpcAnswerReader::Status st = RpcAnswerReader::NeedMore;
    // Like the transport, every byte of the body is fed, also after a
    // complete answer (bytes after it are an error); only an error stops.
    for (qsizetype at = 0; at < data.size() && st != RpcAnswerReader::Error;) {
        const qsizetype size = inPieces ? qMin(chunks.next(), data.size() - at) : data.size() - at;
        st = reader.feed(data.sliced(at, size));
        at += size;
    }
    if (st == RpcAnswerReader::NeedMore)
        st = reader.finish();
    fuzz::require(st != RpcAnswerReader::NeedMore, "finish() decides");
    fuzz::require(reader.status() == st, "status() agrees");
    if (st == RpcAnswerReader::Error)
        fuzz::require(!reader.errorString().isEmpty(), "an error has a message");
    else
        *tree = reader.take();
    return st;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    QVariant whole, pieces;
    const RpcAnswerReader::Status a = read(data, false, &whole);
    const RpcAnswerReader::Status b = read(data, true, &pieces);
    fuzz::require(a == b, "same status whole and in pieces");
    if (a == RpcAnswerReader::Done)
        fuzz::require(whole.typeId() == pieces.typeId(), "the same answer whole and in pieces");
    return 0;
}
