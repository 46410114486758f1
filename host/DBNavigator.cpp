#include "host/DBNavigator.h"

#include "platform/DataSource.h"
#include "platform/Exceptions.h"

#include <QHBoxLayout>
#include <QToolButton>

DBNavigator::DBNavigator(QWidget *parent)
    : QWidget(parent)
{
    const char *names[] = {"btnPrimeiro", "btnAnterior", "btnProximo", "btnUltimo"};
    const char *glyphs[] = {"|<", "<", ">", ">|"};
    const char *hints[] = {"Primeiro", "Anterior", "Próximo", "Último"};
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (int i = 0; i < 4; ++i) {
        m_buttons[i] = new QToolButton(this);
        m_buttons[i]->setObjectName(QLatin1String(names[i]));
        m_buttons[i]->setText(QLatin1String(glyphs[i]));
        m_buttons[i]->setToolTip(QString::fromUtf8(hints[i]));
        m_buttons[i]->setAccessibleName(m_buttons[i]->toolTip());   // the glyph reads as "|<"
        m_buttons[i]->setAutoRaise(true);
        layout->addWidget(m_buttons[i]);
        connect(m_buttons[i], &QToolButton::clicked, this, [this, i] {
            // A move posts a pending edit; a refusal there ends here.
            opd::guarded([this, i] {
                opd::ClientDataSet *ds = dataSet();
                if (!ds)
                    return;
                switch (i) {
                case 0: ds->first(); break;
                case 1: ds->prior(); break;
                case 2: ds->next(); break;
                default: ds->last(); break;
                }
            });
            refresh();
        });
    }
    refresh();
}

opd::ClientDataSet *DBNavigator::dataSet() const
{
    opd::ClientDataSet *ds = m_source ? m_source->dataSet() : nullptr;
    return (ds && ds->isActive()) ? ds : nullptr;
}

void DBNavigator::setDataSource(opd::DataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        connect(m_source, &opd::DataSource::dataSetChanged, this, &DBNavigator::rebind);
        connect(m_source, &opd::DataSource::stateChanged, this, &DBNavigator::refresh);
        connect(m_source, &QObject::destroyed, this, [this] { m_source = nullptr; rebind(); });
    }
    rebind();
}

void DBNavigator::rebind()
{
    for (const auto &link : m_links)
        disconnect(link);
    m_links.clear();
    opd::ClientDataSet *ds = m_source ? m_source->dataSet() : nullptr;
    if (ds) {
        m_links << connect(ds, &opd::ClientDataSet::currentRowChanged, this, &DBNavigator::refresh)
                << connect(ds, &opd::ClientDataSet::rowsReset, this, &DBNavigator::refresh)
                << connect(ds, &opd::ClientDataSet::rowInserted, this, &DBNavigator::refresh)
                << connect(ds, &opd::ClientDataSet::rowRemoved, this, &DBNavigator::refresh);
    }
    refresh();
}

void DBNavigator::refresh()
{
    opd::ClientDataSet *ds = dataSet();
    const bool any = ds && !ds->isEmpty();
    const bool atStart = !any || ds->recNo() <= 0;
    const bool atEnd = !any || ds->recNo() >= ds->recordCount() - 1;
    m_buttons[0]->setEnabled(!atStart);
    m_buttons[1]->setEnabled(!atStart);
    m_buttons[2]->setEnabled(!atEnd);
    m_buttons[3]->setEnabled(!atEnd);
}
