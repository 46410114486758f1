// A stand-in screen package for the shell's tests. Every entry point and
// screen event appends a line to the file named by OPD_TEST_PACKAGE_LOG.
#include "host/HostApplication.h"
#include "host/TfrmPadraoGrid.h"

#include <QFile>
#include <QLineEdit>
#include <QPointer>

namespace {

void note(const QString &line)
{
    QFile log(qEnvironmentVariable("OPD_TEST_PACKAGE_LOG"));
    if (log.open(QIODevice::Append | QIODevice::Text))
        log.write(line.toUtf8() + '\n');
}

class TestScreen : public TfrmPadraoGrid
{
public:
    TestScreen()
    {
        setWindowTitle(QStringLiteral("Tela de teste"));
        lblCodTela->setText(QStringLiteral("OPD31000"));
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("edtTeste"));
        edit->setGeometry(10, 40, 200, 21);
        connect(edit, &QLineEdit::editingFinished, this, [] { note(QStringLiteral("edtTeste left")); });
        pgcPadrao->addPage(tshPadrao, QStringLiteral("Itens"));
    }
    void FormCreate(QObject *sender) override
    {
        TfrmPadraoGrid::FormCreate(sender);
        note(QStringLiteral("FormCreate"));
    }
    void FormActivate(QObject *) override { note(QStringLiteral("FormActivate")); }
    void FormClose(QObject *sender, CloseAction &action) override
    {
        TfrmPadraoGrid::FormClose(sender, action);
        note(QStringLiteral("FormClose"));
    }
};

QPointer<TestScreen> screen;

} // namespace

extern "C" Q_DECL_EXPORT void Initialize()
{
    note(QStringLiteral("Initialize"));
}

extern "C" Q_DECL_EXPORT void IniProc()
{
    note(QStringLiteral("IniProc"));
    if (!screen)
        screen = HostApplication::createForm<TestScreen>();
    screen->subWindow()->show();
    screen->subWindow()->showNormal();
}

extern "C" Q_DECL_EXPORT void Finalize()
{
    note(QStringLiteral("Finalize"));
}
