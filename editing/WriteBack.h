#pragma once
// The write-back of one edited field of a client data set to the
// application server, shared by the orders page (delivery date) and the
// items page (issuing description).
//
// It remembers the field's value as the row enters editing: that is the
// value the last search or the last accepted write delivered, since every
// earlier write either succeeded or was undone. The write carries it as its
// expectation, so that the server refuses it when another clerk has changed
// the field since. When the write fails (the call itself or the server's
// answer), the message is shown, the row is put back without a second write
// - on the remembered value, or on the value now stored when the server
// refused a stale write - and the failure goes on to whoever posted. The busy indicator
// (kind 1) runs for the duration of the call and is off on every way out.
//
// One WriteBack is made per data set by wireEditing(); it is a child of the
// data set, so WriteBack::of(dataSet) finds it.

#include <QByteArray>
#include <QObject>
#include <QVariant>
#include <functional>

namespace opd { class ClientDataSet; }

class WriteBack : public QObject
{
    Q_OBJECT
public:
    WriteBack(opd::ClientDataSet *dataSet, const QByteArray &fieldName);

    static WriteBack *of(const opd::ClientDataSet *dataSet);

    // Runs the remote call, handing it the expectation (QString, day count,
    // or an invalid QVariant for no value), and checks its result; on failure
    // undoes the edit as described above and rethrows (opd::Abort after the
    // message).
    void run(const std::function<QVariant(const QVariant &expect)> &call);

    // The remembered value in the form the expectation travels in.
    QVariant expectation() const;

    // True while the data set is being put back: its post must neither be
    // checked nor written again.
    bool restoring() const { return m_restoring; }

private:
    void remember();
    void restore();
    void adoptStored(const QVariant &stored);

    opd::ClientDataSet *m_dataSet;
    QByteArray m_fieldName;
    bool m_restoring = false;
    bool m_null = true;
    QByteArray m_text;
    double m_number = 0;
};
