// Wiring of the filter's validation and search, of the focus enter/exit
// handlers of the whole screen, and of the page change.

#include "screen/TfrmDescEmiPed.h"

#include "host/TDateEditPlus.h"
#include "platform/DataSource.h"
#include "platform/Exceptions.h"
#include "screen/FocusExitTracker.h"

void TfrmDescEmiPed::wireFilter()
{
    FocusExitTracker *t = m_focusTracker;
    // Exits of the controls come before the panel's own exit, so a refused
    // date or branch code keeps the focus in the panel and starts no search.
    t->setExitHandler(depDeEmissao, [this] { depDeEmissaoExit(depDeEmissao); });
    t->setExitHandler(depAteEmissao, [this] { depAteEmissaoExit(depAteEmissao); });
    t->setExitHandler(depDeEntrega, [this] { depDeEntregaExit(depDeEntrega); });
    t->setExitHandler(depAteEntrega, [this] { depAteEntregaExit(depAteEntrega); });
    t->setExitHandler(medCdFilial, [this] { medCdFilialExit(medCdFilial); });
    t->setExitHandler(medDeIntervalo, [this] { medDeIntervaloExit(medDeIntervalo); });
    t->setExitHandler(medAteIntervalo, [this] { medAteIntervaloExit(medAteIntervalo); });
    t->setExitHandler(panFiltro, [this] { panFiltroExit(panFiltro); });
    t->setEnterHandler(panFiltro, [this] { panFiltroEnter(panFiltro); });
    t->setExitHandler(pgcPadrao, [this] { pgcPadraoExit(pgcPadrao); });

    // Only the user's page changes run the handler; the screen's own
    // SetActivePage at creation does not.
    connect(pgcPadrao, &QTabWidget::currentChanged, this, [this] {
        if (!m_pageChangeByScreen)
            opd::guarded([this] { pgcPadraoChange(pgcPadrao); });
    });
    connect(dtsPedido, &opd::DataSource::stateChanged, this, [this] {
        opd::guarded([this] { dtsPedidoStateChange(dtsPedido); });
    });
}
