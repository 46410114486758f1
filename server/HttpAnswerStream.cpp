#include "HttpAnswerStream.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

#include <cstring>
#include <optional>
#include <vector>

namespace http = boost::beast::http;
using boost::beast::error_code;

namespace {

// An answer's header is a few hundred bytes; anything near this is not ours.
constexpr std::size_t HeaderLimit = 64 * 1024;
// Large answers arrive in pieces of up to this size: one read per piece.
constexpr std::size_t ReadPiece = 64 * 1024;

// 1xx answers come before the real one, except 101: the server switched
// protocols, which we never ask for, so it ends the exchange as is.
bool isInterim(int status)
{
    return status >= 100 && status < 200 && status != 101;
}

// The answer's parser: keeps the status and the content type, and hands the
// body (plain or chunked) to the caller's handler as it comes.
class AnswerParser : public http::basic_parser<false>
{
public:
    AnswerParser(const HttpClient::HeaderHandler &onHeader, const HttpClient::BodyHandler &onBody)
        : m_onHeader(onHeader), m_onBody(onBody)
    {
        header_limit(std::uint32_t(HeaderLimit));
        body_limit(boost::none);   // the handlers cap what they keep
        eager(true);
    }

    int status = 0;
    std::string contentType;
    bool refused = false;   // a handler said stop

private:
    void on_request_impl(http::verb, boost::beast::string_view, boost::beast::string_view, int,
                         error_code &ec) override
    {
        ec = http::error::bad_method;   // never called for an answer
    }
    void on_response_impl(int code, boost::beast::string_view, int, error_code &) override { status = code; }
    void on_field_impl(http::field name, boost::beast::string_view, boost::beast::string_view value,
                       error_code &) override
    {
        if (name == http::field::content_type && contentType.empty())
            contentType.assign(value.data(), value.size());
    }
    void on_header_impl(error_code &ec) override
    {
        // An interim answer (100 Continue) carries no body: the caller only
        // hears of the final one.
        if (isInterim(status))
            return;
        if (m_onHeader && !m_onHeader(status, contentType))
            refuse(ec);
    }
    void on_body_init_impl(const boost::optional<std::uint64_t> &, error_code &) override {}
    std::size_t on_body_impl(boost::beast::string_view body, error_code &ec) override
    {
        if (m_onBody && !body.empty() && !m_onBody(body.data(), body.size()))
            refuse(ec);
        return body.size();
    }
    void on_chunk_header_impl(std::uint64_t, boost::beast::string_view, error_code &) override {}
    std::size_t on_chunk_body_impl(std::uint64_t, boost::beast::string_view body, error_code &ec) override
    {
        return on_body_impl(body, ec);
    }
    void on_finish_impl(error_code &) override {}

    void refuse(error_code &ec)
    {
        refused = true;
        ec = boost::asio::error::operation_aborted;
    }

    const HttpClient::HeaderHandler &m_onHeader;
    const HttpClient::BodyHandler &m_onBody;
};

} // namespace

struct HttpAnswerStream::Private
{
    Private(const HttpClient::HeaderHandler &h, const HttpClient::BodyHandler &b)
        : onHeader(h), onBody(b), parser(std::in_place, h, b)
    {
    }

    const HttpClient::HeaderHandler &onHeader;
    const HttpClient::BodyHandler &onBody;
    std::optional<AnswerParser> parser;
    std::vector<char> buffer = std::vector<char>(ReadPiece);
    std::size_t held = 0;   // bytes in the buffer not yet taken by the parser
    State state = State::NeedMore;
    HttpClient::Error error = HttpClient::Error::Success;
    bool keepAlive = false;

    State fail(HttpClient::Error e)
    {
        error = e;
        return state = State::Failed;
    }

    // Takes what the buffer holds; the parser leaves an incomplete header or
    // chunk header there for the next read.
    State parse()
    {
        while (held > 0) {
            error_code ec;
            const std::size_t used = parser->put(boost::asio::buffer(buffer.data(), held), ec);
            if (used > 0) {
                std::memmove(buffer.data(), buffer.data() + used, held - used);
                held -= used;
            }
            if (ec == http::error::need_more)
                break;
            if (ec)
                return fail(parser->refused ? HttpClient::Error::Canceled : HttpClient::Error::Protocol);
            if (parser->is_done()) {
                if (isInterim(parser->status)) {
                    parser.emplace(onHeader, onBody);   // the final answer follows
                    continue;
                }
                // Bytes after the answer were never asked for: the
                // connection is not trusted with another request.
                keepAlive = parser->keep_alive() && held == 0 && parser->status != 101;
                return state = State::Done;
            }
        }
        return state;
    }
};

HttpAnswerStream::HttpAnswerStream(const HttpClient::HeaderHandler &onHeader, const HttpClient::BodyHandler &onBody)
    : d(std::make_unique<Private>(onHeader, onBody))
{
}

HttpAnswerStream::~HttpAnswerStream() = default;

std::pair<char *, std::size_t> HttpAnswerStream::space()
{
    // The parser holds back only a header or a chunk's size line, both
    // bounded: the buffer grows once past the header limit at most.
    if (d->held == d->buffer.size())
        d->buffer.resize(d->buffer.size() * 2);
    return {d->buffer.data() + d->held, d->buffer.size() - d->held};
}

HttpAnswerStream::State HttpAnswerStream::received(std::size_t size)
{
    if (d->state != State::NeedMore)
        return d->state;
    d->held += std::min(size, d->buffer.size() - d->held);
    d->parse();
    if (d->state == State::NeedMore && d->held >= HeaderLimit + ReadPiece)
        return d->fail(HttpClient::Error::Protocol);   // a line that never ends
    return d->state;
}

HttpAnswerStream::State HttpAnswerStream::closed()
{
    if (d->state != State::NeedMore)
        return d->state;
    // A close before any byte is no answer at all.
    if (!d->parser->got_some())
        return d->fail(HttpClient::Error::Read);
    error_code ec;
    d->parser->put_eof(ec);
    if (ec || !d->parser->is_done())
        return d->fail(d->parser->refused ? HttpClient::Error::Canceled : HttpClient::Error::Read);
    d->keepAlive = false;
    return d->state = State::Done;
}

HttpAnswerStream::State HttpAnswerStream::state() const
{
    return d->state;
}

HttpClient::Error HttpAnswerStream::error() const
{
    return d->error;
}

bool HttpAnswerStream::keepAlive() const
{
    return d->keepAlive;
}
