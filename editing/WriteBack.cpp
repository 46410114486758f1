// Write-back of an edited field, undone when the server does not store it.

#include "editing/WriteBack.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/ShowAvi.h"
#include "platform/ClientDataSet.h"
#include "platform/Exceptions.h"
#include "server/RemoteResult.h"
#include "server/TNetConnection.h"

namespace {

// The indicator goes off however the call ends: left running after a failed
// write it would cover the screen while the user reads the message.
struct BusyWrite
{
    BusyWrite() { ActiveShowAvi(HostApplication::mainForm(), TShowAvi::Write); }
    ~BusyWrite() { DeactiveShowAvi(); }
};

bool isTextField(const opd::Field *f)
{
    return f->dataType() == opd::FieldType::String || f->dataType() == opd::FieldType::FixedChar;
}

} // namespace

WriteBack::WriteBack(opd::ClientDataSet *dataSet, const QByteArray &fieldName)
    : QObject(dataSet), m_dataSet(dataSet), m_fieldName(fieldName)
{
    setObjectName(QStringLiteral("writeBack"));
    // Direct connection: the value is read before anybody can change it.
    connect(dataSet, &opd::ClientDataSet::stateChanged, this, [this](opd::ClientDataSet::State s) {
        if (s == opd::ClientDataSet::State::Edit && !m_restoring)
            remember();
    });
}

WriteBack *WriteBack::of(const opd::ClientDataSet *dataSet)
{
    return dataSet ? dataSet->findChild<WriteBack *>(QStringLiteral("writeBack"), Qt::FindDirectChildrenOnly)
                   : nullptr;
}

void WriteBack::remember()
{
    const opd::Field *f = m_dataSet->fieldByName(m_fieldName);
    m_null = f->isNull();
    m_text = isTextField(f) ? f->asUtf8().toByteArray() : QByteArray();
    m_number = isTextField(f) ? 0 : f->asFloat();
}

QVariant WriteBack::expectation() const
{
    if (m_null)
        return QVariant();
    const opd::Field *f = m_dataSet->fieldByName(m_fieldName);
    return isTextField(f) ? QVariant(QString::fromUtf8(m_text)) : QVariant(m_number);
}

void WriteBack::adoptStored(const QVariant &stored)
{
    const opd::Field *f = m_dataSet->fieldByName(m_fieldName);
    m_null = !stored.isValid() || stored.isNull();
    if (m_null)
        return;
    if (isTextField(f))
        m_text = stored.toString().toUtf8();
    else
        m_number = stored.toDouble();
}

void WriteBack::run(const std::function<QVariant(const QVariant &expect)> &call)
{
    BusyWrite busy;
    try {
        QVariant raw;
        try {
            raw = call(expectation());
        } catch (const opd::RemoteCallError &e) {
            // A lost connection is reported like a refusal by the server:
            // one message, then the handler ends.
            Consiste::MensErro(e.message(), true);
        }
        // Another clerk's change: the row goes back on what is stored now,
        // not on what this clerk saw, so that a new edit expects it.
        if (RemoteResult::isConflict(raw))
            adoptStored(RemoteResult::conflictValue(raw));
        Consiste::CheckResultServ(raw, true, 0);
    } catch (...) {
        restore();
        throw;
    }
}

void WriteBack::restore()
{
    if (!m_dataSet->isActive() || m_dataSet->isEmpty()
        || m_dataSet->state() != opd::ClientDataSet::State::Browse)
        return;
    m_restoring = true;
    // A failure here must not hide the one being reported: the row then
    // shows the unstored value until the next search, as without the undo.
    opd::guarded([this] {
        try {
            m_dataSet->edit();
            opd::Field *f = m_dataSet->fieldByName(m_fieldName);
            if (m_null)
                f->clear();
            else if (isTextField(f))
                f->setAsUtf8(m_text);
            else
                f->setAsFloat(m_number);
            m_dataSet->post();
        } catch (...) {
            if (m_dataSet->state() != opd::ClientDataSet::State::Browse)
                m_dataSet->cancel();
            throw;
        }
    });
    m_restoring = false;
}
