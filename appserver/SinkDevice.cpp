#include "appserver/SinkDevice.h"

namespace opd::appserver {

SinkDevice::SinkDevice(Receiver receiver, qsizetype pieceSize)
    : m_receiver(std::move(receiver)), m_pieceSize(pieceSize)
{
    m_buffer.reserve(pieceSize + 1024);
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

SinkDevice::~SinkDevice() = default;

qint64 SinkDevice::writeData(const char *data, qint64 size)
{
    if (m_failed)
        return -1;
    m_buffer.append(data, size);
    if (m_buffer.size() >= m_pieceSize && !flushPiece())
        return -1;
    return size;
}

bool SinkDevice::flushPiece()
{
    if (m_failed)
        return false;
    if (m_buffer.isEmpty())
        return true;
    if (!m_receiver(m_buffer.constData(), size_t(m_buffer.size())))
        m_failed = true;
    // resize, not clear: clear() frees the block and every piece would
    // grow a new one page by page.
    m_buffer.resize(0);
    return !m_failed;
}

} // namespace opd::appserver
