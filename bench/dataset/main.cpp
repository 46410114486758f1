// Filter switching and memory of an item-like data set at 1,000 and
// 1,000,000 rows. Prints the figures, then the two ratios on the last lines.

#include "platform/ClientDataSet.h"
#include "grid/DBGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>

using namespace opd;

namespace {

const char *const words[] = {"PARAFUSO", "SEXTAVADO", "ARRUELA", "LISA", "ZINCADA", "PORCA", "ACO", "INOX",
                             "CHAPA", "GALVANIZADA", "TUBO", "REDONDO", "BARRA", "CHATA", "CANTONEIRA",
                             "1/2\"", "3/8\"", "M8", "M10", "X", "20MM", "BRANCO", "PRETO", "CAIXA C/100"};

QByteArray productName(QRandomGenerator &rng, int maxChars)
{
    QByteArray name;
    const int n = 2 + int(rng.bounded(5));
    for (int i = 0; i < n; ++i) {
        const QByteArray w = words[rng.bounded(int(std::size(words)))];
        if (name.size() + w.size() + 1 > maxChars)
            break;
        if (!name.isEmpty())
            name += ' ';
        name += w;
    }
    return name;
}

DataPacket itemPacket(int rows)
{
    DataPacket p({{"NRPEDIDO", FieldType::String, 10},
                  {"NRITEMPED", FieldType::String, 10},
                  {"CDPRODUTO", FieldType::String, 10},
                  {"CDARVPROD", FieldType::String, 20},
                  {"QTITEMPED", FieldType::Float, 8},
                  {"NMPRODUTO", FieldType::String, 50},
                  {"CDPRODESTO", FieldType::String, 10},
                  {"CDFILIAL", FieldType::String, 4},
                  {"DSEMISSAOITPED", FieldType::String, 400}});
    p.reserve(rows);
    QRandomGenerator rng(31000);
    for (int r = 0; r < rows; ++r) {
        const int order = r / 10;
        const int product = int(rng.bounded(20000));
        p.appendText(QByteArray::number(1000000 + order));
        p.appendText(QByteArray::number(r % 10 + 1));
        p.appendText(QByteArray::number(100000 + product));
        p.appendText(QStringLiteral("%1.%2.%3").arg(product / 1000, 2, 10, QChar('0'))
                         .arg(product % 1000 / 10, 3, 10, QChar('0')).arg(product % 10, 4, 10, QChar('0')).toLatin1());
        p.appendNumber(1 + rng.bounded(500) / 4.0);
        p.appendText(productName(rng, 50));
        p.appendText(QByteArray::number(200000 + product / 3));
        p.appendText("00" + QByteArray::number(10 + order % 20));
        // About half of the items already carry an issuing description.
        if (rng.bounded(2))
            p.appendText(productName(rng, 50));
        else
            p.appendNull();
        p.endRow();
    }
    return p;
}

// Large blocks are mapped outside the heap arena: count them too.
size_t heapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

double medianFilterSwitch(ClientDataSet &ds, int orders, int runs)
{
    QRandomGenerator rng(7);
    std::vector<qint64> ns;
    ns.reserve(size_t(runs));
    int sink = 0;
    for (int i = 0; i < runs; ++i) {
        const QString expr = QStringLiteral("NRPEDIDO = '%1'").arg(1000000 + rng.bounded(orders));
        QElapsedTimer t;
        t.start();
        ds.setFilter(expr);
        ds.setFiltered(true);
        sink += ds.recordCount();
        ds.first();
        ns.push_back(t.nsecsElapsed());
        ds.setFiltered(false);
    }
    if (sink != runs * 10)
        std::fprintf(stderr, "unexpected filter result: %d rows over %d runs\n", sink, runs);
    std::nth_element(ns.begin(), ns.begin() + runs / 2, ns.end());
    return double(ns[size_t(runs / 2)]);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = 301;

    ClientDataSet small;
    small.addIndex("NRPEDIDO");
    small.setData(itemPacket(1000));
    const double smallNs = medianFilterSwitch(small, 100, runs);

    QElapsedTimer t;
    t.start();
    QByteArray cbor;
    qsizetype raw = 0;
    {
        const DataPacket big = itemPacket(1000000);
        raw = big.rawCellBytes();
        std::printf("build 1,000,000 rows: %lld ms\n", t.restart());
        cbor = big.toCbor();
        std::printf("encode CBOR: %lld ms, %lld bytes\n", t.restart(), qint64(cbor.size()));
    }
    malloc_trim(0);
    ClientDataSet large;
    large.addIndex("NRPEDIDO");
    const size_t before = heapInUse();
    t.restart();
    {
        DataPacket decoded;
        QString error;
        if (!DataPacket::fromCbor(cbor, &decoded, &error)) {
            std::fprintf(stderr, "decode failed: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("decode CBOR: %lld ms\n", t.restart());
        large.setData(decoded);
        std::printf("setData with index: %lld ms\n", t.restart());
    }
    const size_t after = heapInUse();
    const double held = double(after - before);
    cbor = QByteArray();
    const double largeNs = medianFilterSwitch(large, 100000, runs);

    {
        // The grid must not do per-row work: showing a million rows costs
        // what showing a screenful does.
        DataSource source;
        source.setDataSet(&large);
        DBGrid grid;
        grid.setColumns({{"NRPEDIDO"}, {"NRITEMPED"}, {"NMPRODUTO"}, {"QTITEMPED"}, {"DSEMISSAOITPED"}});
        grid.resize(700, 400);
        t.restart();
        grid.setDataSource(&source);
        grid.show();
        QApplication::processEvents();
        grid.grab();
        std::printf("grid over 1,000,000 rows: bind, show and paint %lld ms\n", t.restart());
        large.last();
        QApplication::processEvents();
        grid.grab();
        std::printf("grid jump to the last row and paint: %lld ms\n", t.restart());
        large.first();
    }
    std::printf("raw cell bytes: %lld (%.1f per row)\n", qint64(raw), double(raw) / 1e6);
    std::printf("heap held by the data set: %.0f bytes (%.1f per row); memoryBytes(): %lld\n", held, held / 1e6,
                qint64(large.memoryBytes()));
    std::printf("filter switch median: 1,000 rows %.0f ns, 1,000,000 rows %.0f ns\n", smallNs, largeNs);
    std::printf("filter_switch_1m_vs_1k=%.2f\n", largeNs / smallNs);
    std::printf("memory_per_row_vs_raw=%.2f\n", held / double(raw));
    return 0;
}
