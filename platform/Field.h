#pragma once
// A field of a ClientDataSet: its definition plus typed access to the cell of
// the current row. Owned by its data set.

#include "FieldTypes.h"

#include <QString>
#include <functional>

namespace opd {

class ClientDataSet;

class Field
{
public:
    Field(ClientDataSet *dataSet, int index, FieldDef def);

    ClientDataSet *dataSet() const { return m_dataSet; }
    int index() const { return m_index; }
    const QByteArray &fieldName() const { return m_def.name; }
    FieldType dataType() const { return m_def.type; }
    int size() const { return m_def.size; }
    const FieldDef &def() const { return m_def; }

    QString displayLabel() const;             // label, or the name
    void setDisplayLabel(const QString &label) { m_def.label = label; }
    bool isReadOnly() const { return m_def.readOnly; }
    void setReadOnly(bool on) { m_def.readOnly = on; }
    bool isVisible() const { return !m_def.hidden; }
    void setVisible(bool on) { m_def.hidden = !on; }
    bool isRequired() const { return m_def.required; }
    void setRequired(bool on) { m_def.required = on; }
    const QString &editMask() const { return m_def.editMask; }
    void setEditMask(const QString &mask) { m_def.editMask = mask; }
    int displayWidth() const;
    void setDisplayWidth(int chars) { m_def.displayWidth = chars; }

    // Current row. A field with no value reads as empty text / 0.
    bool isNull() const;
    QByteArrayView asUtf8() const;
    QString asString() const;
    double asFloat() const;
    double asDateTime() const;
    // Display text: dates as dd/mm/yyyy (with hh:mm:ss when there is a time),
    // numbers without trailing zeros.
    QString displayText() const;

    // Writing needs the data set in Edit or Insert state (DataSetError
    // otherwise, or when the field is read-only for the user: see setValueByUser).
    void setAsString(const QString &text);
    void setAsUtf8(QByteArrayView utf8);
    void setAsFloat(double value);
    void setAsDateTime(double dayCount);
    void clear();
    // Text typed by the user: runs onSetText when set, else the field's own
    // conversion (text types: as is; numbers and dates parsed, DataSetError on bad text).
    void setText(const QString &text);

    // Asks the views bound to the data set to put the focus on this field's cell.
    void focusControl();

    // Events. onChange runs after the value of the current row changed.
    std::function<void(Field &)> onChange;
    std::function<void(Field &, const QString &)> onSetText;

private:
    ClientDataSet *m_dataSet;
    int m_index;
    FieldDef m_def;
};

} // namespace opd
