#include "platform/ClientDataSet.h"

#include "platform/ClientDataSetPrivate.h"
#include "platform/Dates.h"

#include <numeric>

namespace opd {

namespace {

using State = ClientDataSet::State;

bool textCompatible(FieldType a, FieldType b)
{
    return isTextType(a) == isTextType(b) && (isTextType(a) || a == b);
}

QString formatNumber(double v)
{
    QString s = QString::number(v, 'g', 15);
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

QString formatDate(double v)
{
    const QDateTime dt = dateTimeFromDayCount(v);
    if (!dt.isValid())
        return QString();
    if (dt.time().msecsSinceStartOfDay() == 0)
        return dt.date().toString(QStringLiteral("dd/MM/yyyy"));
    return dt.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

} // namespace

ClientDataSet::ClientDataSet(QObject *parent) : QObject(parent), d(new Private(this)) {}
ClientDataSet::~ClientDataSet() = default;

Field *ClientDataSet::addField(const FieldDef &def)
{
    if (isActive())
        throw DataSetError(QStringLiteral("Campos só podem ser declarados com o conjunto de dados fechado."));
    if (def.name.isEmpty() || findField(def.name))
        throw DataSetError(QStringLiteral("Campo \"%1\" vazio ou repetido.").arg(QString::fromUtf8(def.name)));
    d->fields.push_back(std::make_unique<Field>(this, int(d->fields.size()), def));
    d->hasPacket = false;   // rows held no longer match the declared fields
    d->packet = DataPacket();
    return d->fields.back().get();
}

Field *ClientDataSet::findField(QByteArrayView name) const
{
    for (const auto &f : d->fields)
        if (f->fieldName() == name)
            return f.get();
    return nullptr;
}

Field *ClientDataSet::fieldByName(QByteArrayView name) const
{
    if (Field *f = findField(name))
        return f;
    throw DataSetError(QStringLiteral("Campo \"%1\" não encontrado.").arg(QString::fromUtf8(name.toByteArray())));
}

const std::vector<std::unique_ptr<Field>> &ClientDataSet::fields() const
{
    return d->fields;
}

void ClientDataSet::setData(const DataPacket &packet)
{
    // Everything is worked out first, so that a refused packet changes nothing.
    QList<FieldDef> defs;
    std::vector<int> column;
    if (d->fields.empty()) {
        defs = packet.fields();
        for (int i = 0; i < defs.size(); ++i)
            column.push_back(i);
    } else {
        for (const auto &f : d->fields) {
            const int c = packet.indexOf(f->fieldName());
            if (c < 0)
                throw DataSetError(QStringLiteral("O pacote de dados não tem o campo \"%1\".")
                                       .arg(QString::fromUtf8(f->fieldName())));
            if (!textCompatible(f->dataType(), packet.fields()[c].type))
                throw DataSetError(QStringLiteral("O campo \"%1\" tem tipo %2 no pacote, esperado %3.")
                                       .arg(QString::fromUtf8(f->fieldName()),
                                            QLatin1StringView(fieldTypeName(packet.fields()[c].type)),
                                            QLatin1StringView(fieldTypeName(f->dataType()))));
            column.push_back(c);
        }
    }
    if (packet.d_func()->pendingCells != 0)
        throw DataSetError(QStringLiteral("O pacote de dados tem uma linha incompleta."));
    const std::vector<std::unique_ptr<Field>> *fieldList = &d->fields;
    std::vector<std::unique_ptr<Field>> newFields;
    if (d->fields.empty()) {
        for (int i = 0; i < defs.size(); ++i)
            newFields.push_back(std::make_unique<Field>(this, i, defs[i]));
        fieldList = &newFields;
    }
    auto fieldIndex = [&](const QByteArray &name) {
        for (const auto &f : *fieldList)
            if (f->fieldName() == name)
                return f->index();
        return -1;
    };
    if (d->filtered && !d->filterName.isEmpty()) {
        const int f = fieldIndex(d->filterName);
        if (f < 0 || !isTextType((*fieldList)[size_t(f)]->dataType()))
            throw DataSetError(QStringLiteral("Filtro: campo \"%1\" não encontrado ou não é texto.")
                                   .arg(QString::fromUtf8(d->filterName)));
    }

    const DataPacketData *src = packet.d_func();
    const qsizetype n = src->rows;
    if (n > qsizetype(std::numeric_limits<quint32>::max() - 1))
        throw DataSetError(QStringLiteral("Pacote de dados grande demais."));
    std::vector<FieldIndex> indexes;
    for (const QByteArray &name : std::as_const(d->indexNames)) {
        const int f = fieldIndex(name);
        if (f < 0 || !isTextType((*fieldList)[size_t(f)]->dataType()))
            continue;   // an index on a field this packet lacks serves nothing
        FieldIndex ix;
        ix.field = f;
        const int col = column[size_t(f)];
        ix.rows.build(n, [src, col](quint32 r) { return src->text(col, r); });
        indexes.push_back(std::move(ix));
    }

    // Commit.
    if (!newFields.empty())
        d->fields = std::move(newFields);
    d->column = std::move(column);
    d->packet = packet;
    d->hasPacket = true;
    d->rows.reset(n);
    std::vector<char>().swap(d->dead);
    d->deadCount = 0;
    d->ordered = true;
    d->indexes = std::move(indexes);
    d->buffer.clear();
    const State before = d->state;
    d->state = State::Browse;   // stateChanged below, once the rows are in place
    d->refresh();
    if (before != State::Browse)
        emit stateChanged(State::Browse);
    if (afterScroll)
        afterScroll(*this);
}

DataPacket ClientDataSet::data() const
{
    QList<FieldDef> defs;
    for (const auto &f : d->fields)
        defs.append(f->def());
    DataPacket out(defs);
    if (!d->hasPacket)
        return out;
    out.reserve(qsizetype(d->rows.size()));
    for (size_t i = 0; i < d->rows.size(); ++i) {
        const quint32 r = d->rows[i];
        for (size_t f = 0; f < d->fields.size(); ++f) {
            const int col = d->column[f];
            if (d->store()->isNull(col, r))
                out.appendNull();
            else if (isTextType(d->fields[f]->dataType()))
                out.appendText(d->store()->text(col, r));
            else
                out.appendNumber(d->store()->number(col, r));
        }
        out.endRow();
    }
    return out;
}

void ClientDataSet::open()
{
    if (isActive())
        return;
    if (!d->hasPacket) {
        QList<FieldDef> defs;
        for (const auto &f : d->fields)
            defs.append(f->def());
        setData(DataPacket(defs));
        return;
    }
    if (d->filtered && !d->filterName.isEmpty())
        d->filterField();   // refuses before opening
    d->state = State::Browse;
    d->refresh();
    emit stateChanged(State::Browse);
    if (afterScroll)
        afterScroll(*this);
}

void ClientDataSet::close()
{
    if (!isActive())
        return;
    if (d->state == State::Insert)
        d->dropRow(d->cur);
    d->buffer.clear();
    d->state = State::Inactive;
    d->filterOn = false;
    d->view.clear();
    d->cur = -1;
    d->bofFlag = d->eofFlag = true;
    emit rowsReset();
    emit currentRowChanged(-1);
    emit stateChanged(State::Inactive);
}

bool ClientDataSet::isActive() const
{
    return d->state != State::Inactive;
}

ClientDataSet::State ClientDataSet::state() const
{
    return d->state;
}

int ClientDataSet::recordCount() const
{
    return isActive() ? d->count() : 0;
}

bool ClientDataSet::isEmpty() const
{
    return recordCount() == 0;
}

int ClientDataSet::recNo() const
{
    return isActive() ? d->cur : -1;
}

bool ClientDataSet::bof() const
{
    return !isActive() || d->bofFlag;
}

bool ClientDataSet::eof() const
{
    return !isActive() || d->eofFlag;
}

void ClientDataSet::first()
{
    d->moveTo(0);
    d->bofFlag = true;
    d->eofFlag = d->count() == 0;
}

void ClientDataSet::last()
{
    d->moveTo(d->count() - 1);
    d->eofFlag = true;
    d->bofFlag = d->count() == 0;
}

void ClientDataSet::next()
{
    d->requireActive("próximo");
    if (d->editing())
        post();
    if (d->cur + 1 >= d->count()) {
        d->eofFlag = true;
        return;
    }
    d->moveTo(d->cur + 1);
    d->bofFlag = d->eofFlag = false;
}

void ClientDataSet::prior()
{
    d->requireActive("anterior");
    if (d->editing())
        post();
    if (d->cur <= 0) {
        d->bofFlag = true;
        return;
    }
    d->moveTo(d->cur - 1);
    d->bofFlag = d->eofFlag = false;
}

void ClientDataSet::moveBy(int distance)
{
    d->requireActive("mover");
    const qint64 target = qint64(d->cur) + distance;
    d->moveTo(int(std::clamp<qint64>(target, 0, std::max(0, d->count() - 1))));
    d->bofFlag = target < 0 || d->count() == 0;
    d->eofFlag = target >= d->count();
}

void ClientDataSet::setRecNo(int row)
{
    d->requireActive("mover");
    if (row < 0 || row >= d->count())
        throw DataSetError(QStringLiteral("Linha %1 fora do conjunto de dados (%2 linhas).").arg(row).arg(d->count()));
    d->moveTo(row);
    d->bofFlag = d->eofFlag = false;
}

void ClientDataSet::edit()
{
    d->requireActive("editar");
    if (d->editing())
        return;
    if (d->count() == 0) {
        insert();
        return;
    }
    d->loadBuffer(d->phys(d->cur));
    d->setState(State::Edit);
}

void ClientDataSet::post()
{
    if (!d->editing())
        throw DataSetError(QStringLiteral("Gravar: o conjunto de dados não está em edição."));
    if (beforePost)
        beforePost(*this);
    for (size_t f = 0; f < d->fields.size(); ++f) {
        const Field &field = *d->fields[f];
        const bool null = isTextType(field.dataType()) ? d->buffer[f].text.isEmpty()
                                                       : std::isnan(d->buffer[f].number);
        if (field.isRequired() && null)
            throw DataSetError(QStringLiteral("O campo \"%1\" deve ser preenchido.").arg(field.displayLabel()));
    }
    const int row = d->cur;
    const quint32 r = d->phys(row);
    d->storeBuffer(r);
    d->buffer.clear();
    // No rowChanged: the views showed the edit buffer, which is what is now
    // stored, so the cells look the same. Telling them again would repaint
    // the whole row after every post; the state change repaints the row's
    // indicator.
    d->setState(State::Browse);
    if (d->filterOn && !d->matchesFilter(d->filterField(), r)) {
        // The row left the filter: it disappears from view, as after a new filter.
        emit rowAboutToBeRemoved(row);
        d->view.erase(d->view.begin() + row);
        emit rowRemoved(row);
        d->cur = std::min(row, d->count() - 1);
        emit currentRowChanged(d->cur);
    }
    if (afterPost)
        afterPost(*this);
}

void ClientDataSet::cancel()
{
    d->requireActive("cancelar");
    if (!d->editing())
        return;
    if (beforeCancel)
        beforeCancel(*this);
    const int row = d->cur;
    if (d->state == State::Insert) {
        emit rowAboutToBeRemoved(row);
        d->dropRow(row);
        d->buffer.clear();
        d->cur = std::min(std::max(d->returnRow, 0), d->count() - 1);
        d->setState(State::Browse);
        emit rowRemoved(row);
        emit currentRowChanged(d->cur);
    } else {
        d->buffer.clear();
        d->setState(State::Browse);
        emit rowChanged(row);
    }
    if (afterCancel)
        afterCancel(*this);
}

void ClientDataSet::insert()
{
    d->insertRow(false);
}

void ClientDataSet::append()
{
    d->insertRow(true);
}
void ClientDataSet::remove()
{
    d->requireActive("excluir");
    if (d->state == State::Insert) {
        cancel();
        return;
    }
    if (d->count() == 0)
        throw DataSetError(QStringLiteral("Excluir: o conjunto de dados está vazio."));
    if (beforeDelete)
        beforeDelete(*this);
    if (beforeScroll)
        beforeScroll(*this);
    const int row = d->cur;
    emit rowAboutToBeRemoved(row);
    d->dropRow(row);
    d->buffer.clear();
    d->cur = std::min(row, d->count() - 1);
    d->setState(State::Browse);
    emit rowRemoved(row);
    emit currentRowChanged(d->cur);
    if (afterDelete)
        afterDelete(*this);
    if (afterScroll)
        afterScroll(*this);
}

void ClientDataSet::setFilter(const QString &expression)
{
    QByteArray name, value;
    if (!expression.trimmed().isEmpty()) {
        static const QRegularExpression re(QStringLiteral("^\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*=\\s*'((?:[^']|'')*)'\\s*$"));
        const QRegularExpressionMatch m = re.match(expression);
        if (!m.hasMatch())
            throw DataSetError(QStringLiteral("Filtro inválido: %1").arg(expression));
        name = m.captured(1).toUtf8();
        value = m.captured(2).replace(QStringLiteral("''"), QStringLiteral("'")).toUtf8();
    }
    if (d->filtered && isActive()) {
        if (d->editing())
            post();
        std::swap(d->filterName, name);
        std::swap(d->filterValue, value);
        try {
            d->refresh();
        } catch (...) {
            std::swap(d->filterName, name);
            std::swap(d->filterValue, value);
            throw;
        }
    } else {
        d->filterName = name;
        d->filterValue = value;
    }
    d->filterText = expression;
}

QString ClientDataSet::filter() const
{
    return d->filterText;
}

void ClientDataSet::setFiltered(bool on)
{
    if (d->filtered == on)
        return;
    if (isActive() && d->editing())
        post();
    d->filtered = on;
    if (!isActive())
        return;
    try {
        d->refresh();
    } catch (...) {
        d->filtered = !on;
        throw;
    }
}

bool ClientDataSet::isFiltered() const
{
    return d->filtered;
}

void ClientDataSet::addIndex(QByteArrayView fieldName)
{
    if (!d->indexNames.contains(fieldName.toByteArray()))
        d->indexNames.append(fieldName.toByteArray());
}

QByteArrayView ClientDataSet::textAt(int row, int field) const
{
    if (row < 0 || row >= recordCount() || field < 0 || field >= int(d->fields.size()))
        return {};
    if (row == d->cur && d->editing())
        return d->buffer[size_t(field)].text;
    return d->storedText(field, d->phys(row));
}

double ClientDataSet::numberAt(int row, int field) const
{
    if (row < 0 || row >= recordCount() || field < 0 || field >= int(d->fields.size()))
        return 0;
    if (isTextType(d->fields[size_t(field)]->dataType()))
        return 0;
    const double v = (row == d->cur && d->editing()) ? d->buffer[size_t(field)].number
                                                     : d->storedNumberRaw(field, d->phys(row));
    return std::isnan(v) ? 0 : v;
}

bool ClientDataSet::isNullAt(int row, int field) const
{
    if (row < 0 || row >= recordCount() || field < 0 || field >= int(d->fields.size()))
        return true;
    if (isTextType(d->fields[size_t(field)]->dataType()))
        return textAt(row, field).isEmpty();
    const double v = (row == d->cur && d->editing()) ? d->buffer[size_t(field)].number
                                                     : d->storedNumberRaw(field, d->phys(row));
    return std::isnan(v);
}

QString ClientDataSet::displayTextAt(int row, int field) const
{
    if (isNullAt(row, field))
        return QString();
    switch (d->fields[size_t(field)]->dataType()) {
    case FieldType::String:
    case FieldType::FixedChar: return QString::fromUtf8(textAt(row, field));
    case FieldType::Float: return formatNumber(numberAt(row, field));
    case FieldType::DateTime: return formatDate(numberAt(row, field));
    }
    return QString();
}

qsizetype ClientDataSet::memoryBytes() const
{
    qsizetype total = d->hasPacket ? d->store()->memoryBytes() : 0;
    total += d->rows.memoryBytes() + qsizetype(d->view.capacity() * sizeof(quint32) + d->dead.capacity());
    for (const FieldIndex &ix : d->indexes)
        total += ix.rows.memoryBytes();
    return total;
}

namespace {

// Stores a value in the edit buffer, tells the views and runs the field's
// change event; when the event throws, the old value comes back before the
// exception goes on, so a refused change leaves no trace.
template<typename Private, typename T>
void changeCell(ClientDataSet &ds, Private &d, int field, T EditCell::*member, T value)
{
    if (!d.editing())
        throw DataSetError(QStringLiteral("O conjunto de dados não está em edição."));
    EditCell &cell = d.buffer[size_t(field)];
    T previous = std::move(cell.*member);
    cell.*member = std::move(value);
    Field &f = *d.fields[size_t(field)];
    try {
        emit ds.rowChanged(d.cur);
        if (f.onChange)
            f.onChange(f);
    } catch (...) {
        if (d.editing() && size_t(field) < d.buffer.size())
            d.buffer[size_t(field)].*member = std::move(previous);
        emit ds.rowChanged(d.cur);
        throw;
    }
}

} // namespace

void ClientDataSet::setCell(int field, QByteArrayView utf8, bool isNull)
{
    changeCell(*this, *d, field, &EditCell::text, isNull ? QByteArray() : utf8.toByteArray());
}

void ClientDataSet::setNumber(int field, double value, bool isNull)
{
    changeCell(*this, *d, field, &EditCell::number,
               isNull ? std::numeric_limits<double>::quiet_NaN() : value);
}

} // namespace opd
