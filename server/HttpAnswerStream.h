#pragma once
// The bytes of one HTTP answer as they arrive, whatever their pieces: read
// straight into its buffer (space(), then received()), parsed by Beast's
// parser, the body handed to the caller's handler as it frees it. Interim
// answers (100 Continue) are passed over. No socket here: HttpClient does
// the reading, and the fuzz target feeds it arbitrary bytes.

#include "HttpClient.h"

#include <cstddef>
#include <memory>
#include <utility>

class HttpAnswerStream
{
public:
    enum class State { NeedMore, Done, Failed };

    HttpAnswerStream(const HttpClient::HeaderHandler &onHeader, const HttpClient::BodyHandler &onBody);
    ~HttpAnswerStream();
    HttpAnswerStream(const HttpAnswerStream &) = delete;
    HttpAnswerStream &operator=(const HttpAnswerStream &) = delete;

    // Where the next bytes go and how many fit; never empty while NeedMore.
    std::pair<char *, std::size_t> space();
    // `size` bytes were written at space().
    State received(std::size_t size);
    // The peer closed: only an answer delimited by the close ends well here.
    State closed();

    State state() const;
    // After Failed: Read (cut short), Protocol (not HTTP, or too large a
    // header) or Canceled (a handler refused it).
    HttpClient::Error error() const;
    // After Done: whether the connection may carry the next request.
    bool keepAlive() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
