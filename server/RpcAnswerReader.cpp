#include "RpcAnswerReader.h"

#include "platform/CborReader.h"
#include "platform/DataPacket.h"

#include <QVariantList>
#include <QVariantMap>
#include <limits>
#include <vector>

namespace {

// An envelope item larger than this is not an answer of ours; refusing it
// keeps a hostile length field from making us buffer without end. Packets
// are not subject to it: they never pass through the envelope buffer.
constexpr quint64 MaxItemBytes = 64ull * 1024 * 1024;

enum class Role { Generic, Top, Result, PayloadArray };
enum class Context { Root, Generic, ResultMap, Payload };

struct Frame
{
    bool isMap = false;
    Role role = Role::Generic;
    qint64 remaining = -1;     // items (arrays) or pairs (maps) still due; -1 indefinite
    QVariantList list;
    QVariantMap map;
    QString key;
    bool haveKey = false;
};

} // namespace

struct RpcAnswerReader::Private
{
    Status status = NeedMore;
    QString error;
    qint64 fed = 0;
    QVariant root;
    std::vector<Frame> stack;
    QByteArray pending;                          // bytes of an envelope item not yet complete
    std::unique_ptr<opd::DataPacketReader> packet;
    bool inChunks = false;                       // inside an indefinite-length string
    int chunksMajor = 0;
    QByteArray chunks;

    void fail(const QString &detail)
    {
        if (status == Error)
            return;
        status = Error;
        error = QStringLiteral("Resposta inválida do servidor de aplicação: %1.").arg(detail);
        packet.reset();
        stack.clear();
        pending.clear();
    }

    Context nextContext() const
    {
        if (stack.empty())
            return Context::Root;
        const Frame &f = stack.back();
        if (!f.isMap)
            return f.role == Role::PayloadArray ? Context::Payload : Context::Generic;
        if (!f.haveKey)
            return Context::Generic;
        if (f.role == Role::Top && f.key == QLatin1String("result"))
            return Context::ResultMap;
        if (f.role == Role::Result && f.key == QLatin1String("payload"))
            return Context::Payload;
        return Context::Generic;
    }

    bool expectingKey() const
    {
        return !stack.empty() && stack.back().isMap && !stack.back().haveKey;
    }

    void deliver(QVariant value)
    {
        for (;;) {
            if (stack.empty()) {
                root = std::move(value);
                status = Done;
                return;
            }
            Frame &f = stack.back();
            if (f.isMap) {
                if (!f.haveKey) {
                    // The head check already refused non-text keys.
                    f.key = value.toString();
                    if (f.map.contains(f.key))
                        return fail(QStringLiteral("chave \"%1\" repetida").arg(f.key));
                    f.haveKey = true;
                    return;
                }
                f.map.insert(f.key, std::move(value));
                f.haveKey = false;
            } else {
                f.list.append(std::move(value));
            }
            if (f.remaining < 0 || --f.remaining > 0)
                return;
            value = f.isMap ? QVariant(std::move(f.map)) : QVariant(std::move(f.list));
            stack.pop_back();
        }
    }

    void push(bool isMap, const opd::cbor::Head &h, Context ctx)
    {
        if (stack.size() >= size_t(opd::cbor::MaxDepth))
            return fail(QStringLiteral("aninhamento profundo demais"));
        if (!h.indefinite && h.value == 0) {
            deliver(isMap ? QVariant(QVariantMap()) : QVariant(QVariantList()));
            return;
        }
        if (!h.indefinite && h.value > MaxItemBytes)
            return fail(QStringLiteral("tamanho de coleção impossível"));
        Frame f;
        f.isMap = isMap;
        f.remaining = h.indefinite ? -1 : qint64(h.value);
        if (isMap && ctx == Context::Root)
            f.role = Role::Top;
        else if (isMap && ctx == Context::ResultMap)
            f.role = Role::Result;
        else if (!isMap && ctx == Context::Payload)
            f.role = Role::PayloadArray;
        stack.push_back(std::move(f));
    }

    void deliverString(int major, const char *bytes, qsizetype size)
    {
        if (major == 2)
            return deliver(QByteArray(bytes, size));
        if (opd::cbor::textChars(QByteArrayView(bytes, size)) < 0)
            return fail(QStringLiteral("texto com UTF-8 inválido"));
        deliver(QString::fromUtf8(bytes, size));
    }

    void closeIndefinite()
    {
        if (stack.empty() || stack.back().remaining != -1)
            return fail(QStringLiteral("marca de fim fora de lugar"));
        Frame &f = stack.back();
        if (f.isMap && f.haveKey)
            return fail(QStringLiteral("mapa sem valor para a chave \"%1\"").arg(f.key));
        QVariant value = f.isMap ? QVariant(std::move(f.map)) : QVariant(std::move(f.list));
        stack.pop_back();
        deliver(std::move(value));
    }

    // Decodes one item head (and a definite string's bytes) at pos. Returns
    // the bytes used, 0 when the item is not complete yet (or on error).
    qsizetype parseOne(qsizetype pos)
    {
        namespace cbor = opd::cbor;
        const uchar *p = reinterpret_cast<const uchar *>(pending.constData()) + pos;
        const uchar *end = reinterpret_cast<const uchar *>(pending.constData()) + pending.size();
        cbor::Head h;
        const int hs = cbor::readHead(p, end, h);
        if (hs < 0) {
            fail(QStringLiteral("cabeçalho CBOR malformado"));
            return 0;
        }
        if (hs == 0)
            return 0;
        const bool isBreak = h.isBreak();

        if (inChunks) {
            if (isBreak) {
                inChunks = false;
                const QByteArray bytes = std::move(chunks);
                chunks.clear();
                deliverString(chunksMajor, bytes.constData(), bytes.size());
                return hs;
            }
            if (h.major != chunksMajor || h.indefinite) {
                fail(QStringLiteral("segmento de texto malformado"));
                return 0;
            }
            if (h.value > MaxItemBytes || quint64(chunks.size()) + h.value > MaxItemBytes) {
                fail(QStringLiteral("texto grande demais"));
                return 0;
            }
            if (!cbor::hasPayload(p, end, hs, h.value))
                return 0;
            chunks.append(reinterpret_cast<const char *>(p + hs), qsizetype(h.value));
            return hs + qsizetype(h.value);
        }

        if (expectingKey() && h.major != 3 && !isBreak) {
            fail(QStringLiteral("chave de mapa que não é texto"));
            return 0;
        }
        const Context ctx = nextContext();

        switch (h.major) {
        case 0:
            if (h.value > quint64(std::numeric_limits<qint64>::max()))
                deliver(double(h.value));
            else
                deliver(qint64(h.value));
            return hs;
        case 1:
            if (h.value > quint64(std::numeric_limits<qint64>::max()))
                deliver(-1.0 - double(h.value));
            else
                deliver(qint64(-1) - qint64(h.value));
            return hs;
        case 2:
        case 3:
            if (h.indefinite) {
                inChunks = true;
                chunksMajor = h.major;
                chunks.clear();
                return hs;
            }
            if (h.value > MaxItemBytes) {
                fail(QStringLiteral("texto grande demais"));
                return 0;
            }
            if (!cbor::hasPayload(p, end, hs, h.value))
                return 0;
            deliverString(h.major, reinterpret_cast<const char *>(p + hs), qsizetype(h.value));
            return hs + qsizetype(h.value);
        case 4:
            push(false, h, ctx);
            return hs;
        case 5:
            push(true, h, ctx);
            return hs;
        case 6:
            return hs;   // tags carry nothing we use
        case 7:
            break;
        }

        switch (h.info) {
        case 20: deliver(false); return hs;
        case 21: deliver(true); return hs;
        case 22:
        case 23: deliver(QVariant()); return hs;
        case cbor::Half:
        case cbor::Single:
        case cbor::Double: {
            double v = 0;
            cbor::floatValue(h, &v);
            deliver(v);
            return hs;
        }
        case 31:
            closeIndefinite();
            return status == Error ? 0 : hs;
        default:
            fail(QStringLiteral("valor simples desconhecido"));
            return 0;
        }
    }

    // Hands bytes to the packet being read; returns what follows the packet
    // (empty while the packet goes on).
    QByteArrayView feedPacket(QByteArrayView data)
    {
        qsizetype used = 0;
        const auto st = packet->feed(data, &used);
        if (st == opd::DataPacketReader::Error) {
            fail(QStringLiteral("pacote de dados inválido (%1)").arg(packet->errorString()));
            return {};
        }
        if (st == opd::DataPacketReader::NeedMore)
            return {};
        opd::DataPacket result = packet->take();
        packet.reset();
        deliver(QVariant::fromValue(std::move(result)));
        return data.sliced(used);
    }

    void parsePending()
    {
        qsizetype pos = 0;
        while (status == NeedMore && pos < pending.size()) {
            const bool mapHead = (uchar(pending.at(pos)) >> 5) == 5;
            if (mapHead && !inChunks && nextContext() == Context::Payload) {
                packet = std::make_unique<opd::DataPacketReader>();
                const QByteArray rest = pending.sliced(pos);
                pending.clear();
                pos = 0;
                const QByteArrayView after = feedPacket(rest);
                if (status == Error || packet)
                    return;
                pending = after.toByteArray();
                continue;
            }
            const qsizetype used = parseOne(pos);
            if (used <= 0)
                break;
            pos += used;
        }
        if (status == Error)
            return;
        pending.remove(0, pos);
        if (status == Done && !pending.isEmpty())
            fail(QStringLiteral("dados após o fim da resposta"));
    }
};

RpcAnswerReader::RpcAnswerReader() : d(std::make_unique<Private>()) {}
RpcAnswerReader::~RpcAnswerReader() = default;

RpcAnswerReader::Status RpcAnswerReader::feed(QByteArrayView data)
{
    if (d->status == Error)
        return Error;
    d->fed += data.size();
    if (d->status == Done) {
        if (!data.isEmpty())
            d->fail(QStringLiteral("dados após o fim da resposta"));
        return d->status;
    }
    if (d->packet) {
        data = d->feedPacket(data);
        if (d->status == Error || d->packet)
            return d->status;
    }
    d->pending.append(data);
    d->parsePending();
    return d->status;
}

RpcAnswerReader::Status RpcAnswerReader::finish()
{
    if (d->status == NeedMore) {
        d->status = Error;
        d->error = QStringLiteral("Resposta incompleta do servidor de aplicação (%1 bytes recebidos).")
                       .arg(d->fed);
        d->packet.reset();
    }
    return d->status;
}

RpcAnswerReader::Status RpcAnswerReader::status() const { return d->status; }
QString RpcAnswerReader::errorString() const { return d->error; }
qint64 RpcAnswerReader::bytesFed() const { return d->fed; }

QVariant RpcAnswerReader::take()
{
    return std::exchange(d->root, QVariant());
}
