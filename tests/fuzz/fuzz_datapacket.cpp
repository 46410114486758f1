// The data packet reader (opd::DataPacketReader) on arbitrary bytes, fed
// whole and then in pieces. Whatever the split, the outcome is the same, and a
// packet it accepts is written back to CBOR and read again unchanged.
#include "FuzzSupport.h"

#include "platform/DataPacket.h"

namespace {

struct Outcome
{
    opd::DataPacketReader::Status status = opd::DataPacketReader::NeedMore;
    qsizetype consumed = 0;
    QByteArray packet;   // re-encoded, when Done
};

Outcome read(QByteArrayView data, bool inPieces)
{
    opd::DataPacketReader reader;
    Outcome out;
    fuzz::Chunks chunks(data);
    while (out.consumed < data.size()) {
        const qsizetype size = inPieces ? qMin(chunks.next(), data.size() - out.consumed)
                                        : data.size() - out.consumed;
        qsizetype taken = 0;
        out.status = reader.feed(data.sliced(out.consumed, size), &taken);
        fuzz::require(taken >= 0 && taken <= size, "consumed within the piece");
        out.consumed += taken;
        if (out.status != opd::DataPacketReader::NeedMore)
            break;
        fuzz::require(taken == size, "a reader that needs more took the whole piece");
    }
    if (out.status == opd::DataPacketReader::Done)
        out.packet = reader.take().toCbor();
    else if (out.status == opd::DataPacketReader::Error)
        fuzz::require(!reader.errorString().isEmpty(), "an error has a message");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const Outcome whole = read(data, false);
    const Outcome pieces = read(data, true);
    fuzz::require(whole.status == pieces.status, "same status whole and in pieces");
    if (whole.status != opd::DataPacketReader::Done)
        return 0;
    fuzz::require(whole.consumed == pieces.consumed, "the packet ends at the same byte");
    fuzz::require(whole.packet == pieces.packet, "the same packet whole and in pieces");
    opd::DataPacket again;
    QString error;
    fuzz::require(opd::DataPacket::fromCbor(whole.packet, &again, &error), "a written packet reads back");
    fuzz::require(again.toCbor() == whole.packet, "a packet survives writing and reading");
    return 0;
}
