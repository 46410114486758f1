#include "host/Pickers.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "platform/ListText.h"
#include "host/PickerDialog.h"
#include "host/PickerModel.h"
#include "platform/DataSource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

PickerHooks &pickerHooks()
{
    static PickerHooks hooks;
    return hooks;
}

namespace {

opd::ClientDataSet *openDataSet(opd::DataSource *source)
{
    opd::ClientDataSet *ds = source ? source->dataSet() : nullptr;
    return (ds && ds->isActive()) ? ds : nullptr;
}

} // namespace

bool PesquisaLista(opd::DataSource *source, const QString &keyField, const QString &title,
                   bool, QString &list)
{
    if (pickerHooks().pesquisaLista)
        return pickerHooks().pesquisaLista(source, keyField, title, list);
    opd::ClientDataSet *ds = openDataSet(source);
    if (!ds)
        return false;
    const int key = ds->fieldByName(keyField.toUtf8())->index();
    QStringList current;
    QString error;
    // A list text that does not parse cannot have come from this picker; it
    // is reported, never silently replaced by an empty choice.
    if (!opd::listtext::parse(list, &current, &error))
        Consiste::MensErro(error, true);
    PickerDialog dialog(ds, PickerDialog::Mode::MultiSelect, title, HostApplication::mainForm());
    dialog.model()->checkKeys(key, QSet<QString>(current.begin(), current.end()));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    QStringList chosen;
    for (int row : dialog.model()->checkedRows())
        chosen.append(QString::fromUtf8(ds->textAt(row, key)));
    list = opd::listtext::join(chosen);
    return true;
}

bool Pesquisar_Plus(opd::DataSource *source, const QString &text, bool, bool)
{
    if (pickerHooks().pesquisarPlus)
        return pickerHooks().pesquisarPlus(source, text);
    const qsizetype bar = text.indexOf(QLatin1Char('|'));
    const QString title = bar < 0 ? text : text.left(bar);
    const QString emptyText = bar < 0 ? QString() : text.mid(bar + 1);
    opd::ClientDataSet *ds = openDataSet(source);
    if (!ds || ds->isEmpty()) {
        if (!emptyText.isEmpty())
            Consiste::showError(emptyText);
        return false;
    }
    PickerDialog dialog(ds, PickerDialog::Mode::SinglePick, title, HostApplication::mainForm());
    dialog.setCurrentRow(ds->recNo());
    if (dialog.exec() != QDialog::Accepted || dialog.currentRow() < 0)
        return false;
    ds->setRecNo(dialog.currentRow());
    return true;
}

int findRowContaining(opd::ClientDataSet *dataSet, int fieldIndex, const QString &text)
{
    if (!dataSet || !dataSet->isActive() || text.isEmpty())
        return -1;
    const int rows = dataSet->recordCount();
    for (int row = 0; row < rows; ++row) {
        if (dataSet->displayTextAt(row, fieldIndex).contains(text, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}

void Procura(opd::ClientDataSet *dataSet)
{
    if (pickerHooks().procura) {
        pickerHooks().procura(dataSet);
        return;
    }
    if (!dataSet || !dataSet->isActive() || dataSet->isEmpty())
        return;
    QDialog dialog(HostApplication::mainForm());
    dialog.setWindowTitle(QStringLiteral("Procurar"));
    auto *column = new QComboBox(&dialog);
    for (const auto &field : dataSet->fields()) {
        if (field->isVisible())
            column->addItem(field->displayLabel(), field->index());
    }
    auto *edit = new QLineEdit(&dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Coluna"), column);
    form->addRow(QStringLiteral("Procurar por"), edit);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int row = findRowContaining(dataSet, column->currentData().toInt(), edit->text());
    if (row < 0)
        Consiste::MensErro(QStringLiteral("'%1' não encontrado.").arg(edit->text()), true);
    dataSet->setRecNo(row);
}
