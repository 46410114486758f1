// Qt's own texts in Portuguese once the application object is started as
// the host starts it: the buttons of a message box, the standard context
// menu of an edit and the labels of the file dialog. The file comes from
// Debian's qt6-translations-l10n (scripts/setup installs it); only a machine
// without it skips, and says so.

#include "tests/support/HostTestMain.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace {

// "&Copiar\tCtrl+C" -> "Copiar": the words, without mnemonic and shortcut.
QString words(const QString &text)
{
    QString w = text.section(QLatin1Char('\t'), 0, 0);
    w.remove(QLatin1Char('&'));
    return w;
}

} // namespace

class Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(HostApplication::qtTranslationFile()))
            QSKIP(qPrintable(HostApplication::qtTranslationFile()
                             + QStringLiteral(" is missing: install qt6-translations-l10n (scripts/setup does)")));
    }

    void startUpNamesTheFileItInstalled()
    {
        // Asked again, it reports the one translator it installed.
        QCOMPARE(HostApplication::startUp(), HostApplication::qtTranslationFile());
        QCOMPARE(QLocale().name(), QStringLiteral("pt_BR"));
    }

    void messageBoxAnswersSimOrNao()
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmação"), QStringLiteral("Excluir o registro?"),
                        QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(words(box.button(QMessageBox::Yes)->text()), QStringLiteral("Sim"));
        QCOMPARE(words(box.button(QMessageBox::No)->text()), QString::fromUtf8("Não"));
    }

    void editContextMenuIsPortuguese()
    {
        QLineEdit edit(QStringLiteral("texto"));
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList entries;
        for (const QAction *a : menu->actions()) {
            if (!a->isSeparator())
                entries << words(a->text());
        }
        QCOMPARE(entries, (QStringList{QStringLiteral("Desfazer"), QStringLiteral("Refazer"),
                                       QStringLiteral("Recortar"), QStringLiteral("Copiar"),
                                       QStringLiteral("Colar"), QStringLiteral("Excluir"),
                                       QStringLiteral("Selecionar tudo")}));
    }

    void fileDialogIsPortuguese()
    {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);   // the one Qt draws, as offscreen and on a bare X
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        auto *buttons = dialog.findChild<QDialogButtonBox *>();
        QVERIFY(buttons);
        QStringList texts;
        for (const QAbstractButton *b : buttons->buttons())
            texts << words(b->text());
        texts.sort();
        QCOMPARE(texts, (QStringList{QStringLiteral("Cancelar"), QStringLiteral("Salvar")}));
        QStringList labels;
        for (const QLabel *l : dialog.findChildren<QLabel *>())
            labels << words(l->text());
        QVERIFY2(labels.contains(QStringLiteral("Nome do arquivo:")), qPrintable(labels.join(" | ")));
    }
};

OPD_HOST_TEST_MAIN(Translations)
#include "tst_translations.moc"
