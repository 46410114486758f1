#pragma once
// An in-memory table with a cursor, states, events and a filter: the data sets
// behind the screen's grids. Cells are held as UTF-8 bytes (DataPacket) and
// converted only when a view asks.
//
// Events are std::function members. Any of them may throw (opd::Abort to
// refuse silently, or after showing a message): the operation is then
// abandoned in the state it had and the exception goes on to the caller.

#include "DataPacket.h"
#include "Field.h"

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace opd {

class ClientDataSet : public QObject
{
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    Q_ENUM(State)

    explicit ClientDataSet(QObject *parent = nullptr);
    ~ClientDataSet() override;

    // Declared fields. Declare before assigning data; the packet must carry
    // every declared field with a matching type (DataSetError otherwise).
    // With no declared fields, the packet's fields are taken as they are.
    Field *addField(const FieldDef &def);
    Field *findField(QByteArrayView name) const;   // nullptr when absent
    Field *fieldByName(QByteArrayView name) const; // DataSetError when absent
    const std::vector<std::unique_ptr<Field>> &fields() const;

    // Replaces the rows and opens on the first row.
    void setData(const DataPacket &packet);
    DataPacket data() const;                      // current rows, edits applied

    void open();        // opens on the rows held (empty when none)
    void close();       // drops a pending edit; rows are kept for a later open()
    bool isActive() const;
    State state() const;

    // Cursor, as seen through the filter.
    int recordCount() const;
    bool isEmpty() const;
    int recNo() const;            // 0-based; -1 when empty or inactive
    bool bof() const;
    bool eof() const;
    void first();
    void last();
    void next();
    void prior();
    void moveBy(int distance);
    void setRecNo(int row);       // posts a pending edit first, like every move

    // Editing.
    void edit();
    void post();
    void cancel();
    void insert();    // new row before the current one
    void append();    // new row at the end
    void remove();    // deletes the current row

    // Filter: "FIELD = 'text'" (quotes inside the text doubled), applied while
    // filtered is on. Served by an index on FIELD built when the data is set.
    void setFilter(const QString &expression);
    QString filter() const;
    void setFiltered(bool on);
    bool isFiltered() const;
    // Fields worth an index (built at setData, so switching a filter costs
    // about the same whatever the row count).
    void addIndex(QByteArrayView fieldName);

    // Reading any visible row without moving the cursor (for views).
    QByteArrayView textAt(int row, int field) const;
    double numberAt(int row, int field) const;
    bool isNullAt(int row, int field) const;
    QString displayTextAt(int row, int field) const;

    // Approximate bytes held by the rows and their indexes.
    qsizetype memoryBytes() const;

    std::function<void(ClientDataSet &)> beforeInsert, afterInsert;
    std::function<void(ClientDataSet &)> beforePost, afterPost;
    std::function<void(ClientDataSet &)> beforeCancel, afterCancel;
    std::function<void(ClientDataSet &)> beforeDelete, afterDelete;
    std::function<void(ClientDataSet &)> beforeScroll, afterScroll;

    // Internal, for Field.
    void setCell(int field, QByteArrayView utf8, bool isNull);
    void setNumber(int field, double value, bool isNull);

signals:
    void stateChanged(opd::ClientDataSet::State state);
    void rowsReset();                    // data set, filter changed, opened, closed
    void rowChanged(int row);            // a visible row's cells changed
    void rowAboutToBeInserted(int row);  // before the rows move (for models)
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void currentRowChanged(int row);
    void focusFieldRequested(opd::Field *field);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace opd
