// The client's HTTP answer stream (HttpAnswerStream) on arbitrary bytes, read
// whole and in pieces, with the peer's close after them: the same outcome,
// status and body either way, and at most one final header.
#include "FuzzSupport.h"

#include "server/HttpAnswerStream.h"

#include <cstring>
#include <string>

namespace {

struct Outcome
{
    HttpAnswerStream::State state = HttpAnswerStream::State::NeedMore;
    HttpClient::Error error = HttpClient::Error::Success;
    int status = 0;
    int headers = 0;
    bool keepAlive = false;
    std::string body;
};

// The first byte sets how much body the handler takes before it refuses
// (0: no limit), so refusals are explored too.
Outcome read(QByteArrayView data, size_t bodyLimit, bool inPieces)
{
    Outcome out;
    const HttpClient::HeaderHandler onHeader = [&](int status, const std::string &) {
        out.status = status;
        ++out.headers;
        return true;
    };
    const HttpClient::BodyHandler onBody = [&](const char *bytes, size_t size) {
        out.body.append(bytes, size);
        return bodyLimit == 0 || out.body.size() <= bodyLimit;
    };
    HttpAnswerStream answer(onHeader, onBody);
    fuzz::Chunks chunks(data);
    for (qsizetype at = 0; at < data.size() && answer.state() == HttpAnswerStream::State::NeedMore;) {
        const auto [into, room] = answer.space();
        fuzz::require(into && room > 0, "room for the next bytes");
        qsizetype size = inPieces ? qMin(chunks.next(), data.size() - at) : data.size() - at;
        size = qMin(size, qsizetype(room));
        std::memcpy(into, data.data() + at, size_t(size));
        answer.received(size_t(size));
        at += size;
    }
    if (answer.state() == HttpAnswerStream::State::NeedMore)
        answer.closed();
    out.state = answer.state();
    fuzz::require(out.state != HttpAnswerStream::State::NeedMore, "the close decides");
    if (out.state == HttpAnswerStream::State::Failed) {
        out.error = answer.error();
        fuzz::require(out.error == HttpClient::Error::Read || out.error == HttpClient::Error::Protocol
                          || out.error == HttpClient::Error::Canceled,
                      "a failure says why");
    } else {
        out.keepAlive = answer.keepAlive();
        fuzz::require(out.headers == 1, "a finished answer had one final header");
        fuzz::require(out.status < 100 || out.status >= 200 || out.status == 101, "a finished answer is not an interim one");
    }
    fuzz::require(out.headers <= 1, "at most one final header");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const size_t bodyLimit = bytes[0] < 16 ? size_t(bytes[0]) * 7 : 0;
    const QByteArrayView data(reinterpret_cast<const char *>(bytes) + 1, qsizetype(size - 1));
    const Outcome whole = read(data, bodyLimit, false);
    const Outcome pieces = read(data, bodyLimit, true);
    fuzz::require(whole.state == pieces.state, "same outcome whole and in pieces");
    if (whole.state == HttpAnswerStream::State::Done) {
        fuzz::require(whole.status == pieces.status, "same status whole and in pieces");
        // Bytes after the answer that came with its last piece forbid
        // reuse; in smaller pieces they come later, and the client's check
        // before the next request finds them.
        fuzz::require(!whole.keepAlive || pieces.keepAlive, "kept alive whole, kept alive in pieces");
        fuzz::require(whole.body == pieces.body, "same body whole and in pieces");
    } else {
        // The parser may see a bad line of an unfinished header or chunk
        // early when it has more bytes at once (Protocol), or only hear of
        // the close (Read); a refusal depends on the body alone.
        fuzz::require((whole.error == HttpClient::Error::Canceled) == (pieces.error == HttpClient::Error::Canceled),
                      "a refusal whole and in pieces alike");
    }
    return 0;
}
