#include "host/HostShell.h"

#include "host/Consiste.h"
#include "host/HostApplication.h"
#include "host/HostPaths.h"
#include "host/Log.h"
#include "host/Orvand.h"
#include "host/ShowAvi.h"
#include "host/TADOIBQuery.h"
#include "host/TfrmPadraoGrid.h"
#include "opd/BuildConfig.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

namespace {

const QString kScreenCode = QStringLiteral("OPD31000");
constexpr int kWaitLimitMs = 60000;

} // namespace

namespace {

// The shell's own options; the Orvand ones are added by describeOptions().
struct ShellOptions
{
    QCommandLineOption config{QStringLiteral("config"),
                              QStringLiteral("Arquivo de configuração (INI). Sem ele, o primeiro opd.ini "
                                             "de ~/.config/opd-host/, ~/.config/, XDG_CONFIG_DIRS e /etc/opd/."),
                              QStringLiteral("arquivo")};
    QCommandLineOption open{QStringLiteral("open"), QStringLiteral("Abre a tela ao iniciar (OPD31000)."),
                            QStringLiteral("tela")};
    QCommandLineOption focus{QStringLiteral("focus"),
                             QStringLiteral("Depois de abrir, põe o foco no controle com este nome."),
                             QStringLiteral("nome")};
    QCommandLineOption shot{QStringLiteral("screenshot"),
                            QStringLiteral("Com a tela pronta, grava a janela principal em PNG e sai."),
                            QStringLiteral("arquivo")};
    QCommandLineOption package{QStringLiteral("package"), QStringLiteral("Arquivo do pacote da tela."),
                               QStringLiteral("arquivo")};
    QCommandLineOption packageDir{QStringLiteral("package-dir"),
                                  QStringLiteral("Pasta do pacote da tela (padrão: a pasta de pacotes da "
                                                 "instalação, depois a pasta do executável)."),
                                  QStringLiteral("pasta")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                            QStringLiteral("Mostra esta ajuda e sai.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Mostra a versão e sai.")};
};

void describeOptions(QCommandLineParser &parser, const ShellOptions &o)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("Pedidos de Venda: a tela %1 (Descrição para Emissão do "
                                                    "Pedido).").arg(kScreenCode));
    parser.addOptions({o.config, o.open, o.focus, o.shot, o.package, o.packageDir, o.help, o.version});
    const QStringList envNames = Orvand::optionNames();
    for (const QString &name : envNames)
        parser.addOption(QCommandLineOption(name, Orvand::optionDescription(name), QStringLiteral("valor")));
}

} // namespace

int HostShell::answerHelpOrVersion(const QStringList &arguments)
{
    QCommandLineParser parser;
    const ShellOptions o;
    describeOptions(parser, o);
    // A line that does not parse is for run() to refuse, with its message.
    if (!parser.parse(arguments))
        return -1;
    if (parser.isSet(o.help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(o.version)) {
        std::printf("opd-host %s\n", OPD_VERSION);
        return 0;
    }
    return -1;
}

int HostShell::parseArguments(const QStringList &arguments, Options *options, QString *error)
{
    QCommandLineParser parser;
    const ShellOptions o;
    describeOptions(parser, o);
    const QStringList envNames = Orvand::optionNames();
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("Argumento inesperado: %1").arg(parser.positionalArguments().join(' '));
        return 2;
    }
    Options out;
    out.config = parser.value(o.config);
    out.open = parser.value(o.open);
    out.focus = parser.value(o.focus);
    out.screenshot = parser.value(o.shot);
    out.package = parser.value(o.package);
    out.packageDir = parser.value(o.packageDir);
    out.help = parser.isSet(o.help);
    out.version = parser.isSet(o.version);
    if (!out.package.isEmpty() && !out.packageDir.isEmpty()) {
        *error = QStringLiteral("Use --package ou --package-dir, não os dois.");
        return 2;
    }
    if (!out.open.isEmpty() && out.open != kScreenCode) {
        *error = QStringLiteral("Tela desconhecida '%1' (esta instalação tem apenas %2).").arg(out.open, kScreenCode);
        return 2;
    }
    if ((!out.focus.isEmpty() || !out.screenshot.isEmpty()) && out.open.isEmpty()) {
        *error = QStringLiteral("--focus e --screenshot exigem --open %1.").arg(kScreenCode);
        return 2;
    }
    for (const QString &name : envNames) {
        if (parser.isSet(name))
            out.environmentOptions.append({name, parser.value(name)});
    }
    *options = out;
    return 0;
}

HostShell::HostShell(QObject *parent)
    : QObject(parent)
{
}

HostShell::~HostShell()
{
    unloadPackage();
    delete m_window;
}

void HostShell::report(const QString &text)
{
    if (m_quiet || !m_window)
        qCWarning(opd::lcHost, "%s", qPrintable(text));
    else
        QMessageBox::critical(m_window, m_window->windowTitle(), text);
}

void HostShell::buildWindow()
{
    m_window = new QMainWindow;
    m_window->setObjectName(QStringLiteral("frmPrincipal"));
    m_window->setWindowTitle(QStringLiteral("Pedidos de Venda"));
    m_area = new QMdiArea(m_window);
    m_area->setObjectName(QStringLiteral("mdiPrincipal"));
    m_window->setCentralWidget(m_area);
    m_window->resize(1024, 700);
    QMenu *screens = m_window->menuBar()->addMenu(QStringLiteral("&Telas"));
    QAction *entry = screens->addAction(kScreenCode);
    entry->setObjectName(QStringLiteral("act") + kScreenCode);
    entry->setToolTip(QStringLiteral("Descrição para Emissão do Pedido"));
    connect(entry, &QAction::triggered, this, &HostShell::openScreen);
    screens->addSeparator();
    connect(screens->addAction(QStringLiteral("Sair")), &QAction::triggered, m_window, &QWidget::close);
    HostApplication::setMainForm(m_window, m_area);
}

bool HostShell::loadPackage(const QString &fileName, QString *error)
{
    unloadPackage();
    m_library.setFileName(fileName);
    if (!m_library.load()) {
        *error = QStringLiteral("Não foi possível carregar o pacote '%1': %2").arg(fileName, m_library.errorString());
        return false;
    }
    m_initialize = reinterpret_cast<EntryPoint>(m_library.resolve("Initialize"));
    m_iniProc = reinterpret_cast<EntryPoint>(m_library.resolve("IniProc"));
    m_finalize = reinterpret_cast<EntryPoint>(m_library.resolve("Finalize"));
    if (!m_initialize || !m_iniProc || !m_finalize) {
        *error = QStringLiteral("O pacote '%1' não exporta Initialize, IniProc e Finalize.").arg(fileName);
        m_initialize = m_iniProc = m_finalize = nullptr;
        m_library.unload();
        return false;
    }
    if (!opd::guarded([this] { m_initialize(); })) {
        *error = QStringLiteral("A inicialização do pacote '%1' falhou.").arg(fileName);
        m_initialize = m_iniProc = m_finalize = nullptr;
        m_library.unload();
        return false;
    }
    return true;
}

void HostShell::openScreen()
{
    if (m_iniProc)
        opd::guarded([this] { m_iniProc(); });
    else
        report(QStringLiteral("O pacote da tela %1 não está carregado.").arg(kScreenCode));
}

void HostShell::unloadPackage()
{
    if (!m_library.isLoaded())
        return;
    // Screens are objects of the package's classes: they must be gone, with
    // their close steps run, before its code is unloaded.
    {
        const auto subs = HostApplication::mdiArea()->subWindowList();
        for (QMdiSubWindow *sub : subs) {
            sub->close();
            delete sub;
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (m_finalize)
        opd::guarded([this] { m_finalize(); });
    m_initialize = m_iniProc = m_finalize = nullptr;
    m_library.unload();
}

void HostShell::finish(int exitCode)
{
    m_exitCode = exitCode;
    QCoreApplication::exit(exitCode);
}

void HostShell::afterOpen()
{
    openScreen();
    if (m_options.screenshot.isEmpty() && m_options.focus.isEmpty())
        return;
    QMdiSubWindow *sub = m_area->activeSubWindow();
    if (!sub && !m_area->subWindowList().isEmpty())
        sub = m_area->subWindowList().constLast();
    auto *screen = sub ? qobject_cast<TfrmPadraoGrid *>(sub->widget()) : nullptr;
    if (!screen) {
        report(QStringLiteral("A tela %1 não abriu.").arg(kScreenCode));
        finish(1);
        return;
    }
    if (m_area->activeSubWindow() != sub)
        m_area->setActiveSubWindow(sub);

    // Polls rather than waits on signals: the screen may run nested event
    // loops (remote calls) in the middle of any of these steps.
    auto *timer = new QTimer(this);
    auto *clock = new QElapsedTimer;
    clock->start();
    int quietTicks = 0;
    bool focused = m_options.focus.isEmpty();
    QPointer<TfrmPadraoGrid> guard(screen);
    connect(timer, &QTimer::timeout, this, [=, this]() mutable {
        if (clock->elapsed() > kWaitLimitMs || !guard) {
            timer->stop();
            report(guard ? QStringLiteral("A tela não ficou pronta a tempo.")
                         : QStringLiteral("A tela foi fechada antes da captura."));
            finish(1);
            return;
        }
        if (guard->activationCount() == 0)
            return;
        if (!focused) {
            focused = true;
            QWidget *target = guard->findChild<QWidget *>(m_options.focus);
            if (!target) {
                timer->stop();
                report(QStringLiteral("A tela não tem o controle '%1'.").arg(m_options.focus));
                finish(1);
                return;
            }
            target->setFocus(Qt::OtherFocusReason);
            return;
        }
        if (ShowAviRunning() || QApplication::activeModalWidget()) {
            quietTicks = 0;
            return;
        }
        if (++quietTicks < 6)
            return;
        timer->stop();
        if (m_options.screenshot.isEmpty())
            return;
        if (!m_window->grab().save(m_options.screenshot, "PNG")) {
            report(QStringLiteral("Não foi possível gravar '%1'.").arg(m_options.screenshot));
            finish(1);
            return;
        }
        finish(0);
    });
    connect(timer, &QObject::destroyed, [clock] { delete clock; });
    timer->start(50);
}

int HostShell::run(const QStringList &arguments)
{
    QString error;
    if (parseArguments(arguments, &m_options, &error) != 0) {
        std::fprintf(stderr, "opd-host: %s\n", qPrintable(error));
        return 2;
    }
    // Reached with a display platform given on the command line (-platform
    // ...), which main()'s early answer leaves to the QApplication.
    if (m_options.help || m_options.version)
        return answerHelpOrVersion(arguments);
    const QString config = m_options.config.isEmpty() ? HostPaths::findConfig() : m_options.config;
    if (config.isEmpty()) {
        qCInfo(opd::lcHost, "nenhum opd.ini encontrado em %s; usando os valores padrão.",
               qPrintable(HostPaths::configCandidates().join(QStringLiteral(", "))));
    } else {
        qCInfo(opd::lcHost, "configuração lida de %s", qPrintable(config));
    }
    if (!Orvand::load(config, m_options.environmentOptions, &error)) {
        qCCritical(opd::lcHost, "%s", qPrintable(error));
        return 2;
    }
    // A scripted run has nobody to close a message box.
    m_quiet = !m_options.screenshot.isEmpty();
    buildWindow();
    if (m_quiet) {
        Consiste::setMessageSink([](const QString &text) {
            qCInfo(opd::lcHost, "mensagem: %s", qPrintable(text));
        });
    }
    opd::setUnhandledErrorReporter([this](const QString &text) { report(text); });

    const QString url = Orvand::environment().databaseUrl;
    if (!url.isEmpty() && !dtmDBGeral::open(url, &error))
        report(error);

    const QString package = HostPaths::packagePath(m_options.package, m_options.packageDir,
                                                   QCoreApplication::applicationDirPath());
    if (!loadPackage(package, &error)) {
        report(error);
        if (!m_options.open.isEmpty())
            return 1;
    } else {
        qCInfo(opd::lcHost, "pacote carregado de %s", qPrintable(m_library.fileName()));
    }
    m_window->show();
    m_window->activateWindow();
    if (!m_options.open.isEmpty())
        QTimer::singleShot(0, this, &HostShell::afterOpen);
    m_exitCode = QApplication::exec();
    unloadPackage();
    dtmDBGeral::close();
    return m_exitCode;
}
