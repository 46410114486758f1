#include "db/Seeder.h"

#include "db/DayCount.h"
#include "db/RowInserter.h"

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace opd::db {

namespace {

// The engine's output sequence is fixed by the standard; the library's
// distributions are not, so values are drawn with plain modulo.
class Dice
{
public:
    explicit Dice(std::uint64_t seed) : m_engine(seed) {}
    long long below(long long n) { return (long long)(m_engine() % std::uint64_t(n)); }
    template<typename T, size_t N>
    const T &pick(const std::array<T, N> &items) { return items[size_t(below(N))]; }

private:
    std::mt19937_64 m_engine;
};

std::string padded(long long value, int width)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
}

struct Branch { const char *code, *name, *segment, *reserve, *company; };
const std::array<Branch, 10> kBranches = {{
    {"0001", "Matriz São Paulo", "VAREJ", "N", "01"},
    {"0002", "Filial Campinas", "VAREJ", "N", "01"},
    {"0003", "Filial Rio de Janeiro", "ATACA", "N", "01"},
    {"0004", "Filial Belo Horizonte", "VAREJ", "N", "01"},
    {"0005", "Filial Curitiba", "ATACA", "N", "01"},
    {"0006", "Centro de Distribuição Jundiaí", "LOGIS", "S", "01"},
    {"0007", "Depósito Porto Alegre", "LOGIS", "S", "01"},
    {"0008", "Filial Recife", "VAREJ", "N", "01"},
    {"0009", "Filial Salvador", "VAREJ", "N", "02"},
    {"0010", "Depósito Goiânia", "LOGIS", "S", "02"},
}};

struct City { const char *state, *code, *name; };
const std::array<City, 10> kCities = {{
    {"SP", "3550308", "São Paulo"}, {"SP", "3509502", "Campinas"},
    {"RJ", "3304557", "Rio de Janeiro"}, {"MG", "3106200", "Belo Horizonte"},
    {"PR", "4106902", "Curitiba"}, {"RS", "4314902", "Porto Alegre"},
    {"PE", "2611606", "Recife"}, {"BA", "2927408", "Salvador"},
    {"GO", "5208707", "Goiânia"}, {"SC", "4205407", "Florianópolis"},
}};

const std::array<const char *, 16> kFirst = {"Comercial", "Distribuidora", "Mercado", "Casa",
    "Atacadão", "Empório", "Armazém", "Supermercado", "Papelaria", "Ferragens", "Drogaria",
    "Padaria", "Construtora", "Auto Peças", "Livraria", "Farmácia"};
const std::array<const char *, 16> kSecond = {"Boa Vista", "São João", "Santa Luzia", "Paulista",
    "Ipiranga", "Bandeirantes", "Aurora", "Esperança", "Três Irmãos", "Nova Era", "Pinheiros",
    "Itaú", "Guanabara", "Araújo", "Conceição", "Brasil"};
const std::array<const char *, 12> kPeople = {"João", "Maria", "José", "Ana", "Antônio",
    "Francisca", "Carlos", "Luíza", "Paulo", "Márcia", "Sérgio", "Cláudia"};
const std::array<const char *, 12> kSurnames = {"Silva", "Santos", "Oliveira", "Souza", "Lima",
    "Pereira", "Gonçalves", "Ribeiro", "Araújo", "Fernandes", "Conceição", "Mendonça"};
const std::array<const char *, 12> kGoods = {"Parafuso sextavado", "Arruela lisa", "Porca travante",
    "Café torrado", "Açúcar refinado", "Feijão carioca", "Óleo de soja", "Papel sulfite",
    "Caneta esferográfica", "Cimento CP-II", "Tinta acrílica", "Fio de cobre"};
const std::array<const char *, 6> kMakers = {"Fornecedor Alfa", "Indústria Beta", "Gama & Cia",
    "Irmãos Délta", "Ômega S.A.", "Zeta Ltda."};
const std::array<const char *, 6> kStreets = {"Rua das Flores", "Av. Brasil", "Rua São Bento",
    "Av. Paulista", "Rua XV de Novembro", "Travessa da Conceição"};

void clearAll(Database &db)
{
    for (const char *table : {"AUDITORIA", "ITEMPEDIDO", "PEDIDO", "PRODUTO", "VENDEDOR", "ENDECLIE",
                              "CLIENTE", "MUNICIPIO", "PAIS", "FILIAL"})
        db.execScript(std::string("DELETE FROM ") + table);
}

} // namespace

SeedCounts Seeder::seed(Database &db, long long orders, std::uint64_t seed)
{
    Dice dice(seed);
    Transaction tx(db, true);
    clearAll(db);

    {
        RowInserter ins(db, "FILIAL", {"CDFILIAL", "NMFILIAL", "CDSEGMER", "IDCNTRRESC", "CDEMPRESA"});
        for (const Branch &b : kBranches) {
            ins.text(b.code); ins.text(b.name); ins.text(b.segment); ins.text(b.reserve);
            ins.text(b.company);
            ins.endRow();
        }
        ins.finish();
    }
    {
        RowInserter pais(db, "PAIS", {"CDPAIS", "NMPAIS"});
        pais.text("1058"); pais.text("Brasil"); pais.endRow();
        pais.finish();
        RowInserter mun(db, "MUNICIPIO", {"CDPAIS", "SGESTADO", "CDMUNICIPIO", "NMMUNICIPIO"});
        for (const City &c : kCities) {
            mun.text("1058"); mun.text(c.state); mun.text(c.code); mun.text(c.name);
            mun.endRow();
        }
        mun.finish();
    }

    const long long customers = std::max<long long>(40, std::min<long long>(2000, orders / 10));
    {
        RowInserter cli(db, "CLIENTE", {"CDCLIENTE", "IDTPIJURCLIE", "NRINSJURCLIE", "NMFANTCLIE",
                                        "NMRAZSOCCLIE"});
        RowInserter end(db, "ENDECLIE", {"CDCLIENTE", "IDTPENDECLIE", "CDPAIS", "SGESTADO",
                                         "CDMUNICIPIO", "DSENDECLIE"});
        end.writeAfter(cli);
        for (long long i = 1; i <= customers; ++i) {
            const std::string code = "C" + padded(i, 6);
            const bool company = i % 4 != 0;
            std::string fantasy, legal;
            if (company) {
                fantasy = std::string(dice.pick(kFirst)) + " " + dice.pick(kSecond);
                legal = fantasy + (i % 3 ? " Ltda." : " S.A.");
            } else {
                fantasy = std::string(dice.pick(kPeople)) + " " + dice.pick(kSurnames);
                legal = fantasy + " " + dice.pick(kSurnames);
            }
            cli.text(code); cli.text(company ? "J" : "F");
            cli.text(padded(dice.below(company ? 99999999999999LL : 99999999999LL), company ? 14 : 11));
            cli.text(fantasy); cli.text(legal);
            cli.endRow();
            const City &city = dice.pick(kCities);
            const std::string street = std::string(dice.pick(kStreets)) + ", " + std::to_string(dice.below(2000) + 1);
            end.text(code); end.text("P"); end.text("1058"); end.text(city.state); end.text(city.code);
            end.text(street);
            end.endRow();
            if (i % 5 == 0) {
                const City &other = dice.pick(kCities);
                end.text(code); end.text("C"); end.text("1058"); end.text(other.state);
                end.text(other.code); end.text(std::string(dice.pick(kStreets)) + ", 10");
                end.endRow();
            }
        }
        cli.finish();
        end.finish();
    }

    const long long sellers = 25;
    {
        RowInserter ven(db, "VENDEDOR", {"CDVENDEDOR", "NMFANVEN", "IDCARGOVEND"});
        for (long long i = 1; i <= sellers; ++i) {
            ven.text(padded(i, 4));
            ven.text(std::string(dice.pick(kPeople)) + " " + dice.pick(kSurnames));
            ven.text(i % 5 == 0 ? "R" : "V");
            ven.endRow();
        }
        ven.finish();
    }

    // Stock products (their own stock product), the purchase products that
    // share each one, and loose products with no stock product.
    std::vector<std::string> sellable;
    {
        RowInserter pro(db, "PRODUTO", {"CDPRODUTO", "CDARVPROD", "NMPRODUTO", "CDPRODESTO"});
        long long next = 1;
        for (int s = 1; s <= 40; ++s) {
            const std::string stock = padded(next++, 10);
            const std::string good = kGoods[size_t(s % kGoods.size())];
            pro.text(stock); pro.text("01." + padded(s, 3) + ".0000");
            pro.text(good + " (estoque " + std::to_string(s) + ")"); pro.text(stock);
            pro.endRow();
            const long long buys = 2 + dice.below(3);
            for (long long b = 1; b <= buys; ++b) {
                const std::string code = padded(next++, 10);
                pro.text(code); pro.text("01." + padded(s, 3) + "." + padded(b, 4));
                pro.text(good + " " + dice.pick(kMakers)); pro.text(stock);
                pro.endRow();
                sellable.push_back(code);
            }
        }
        for (int l = 1; l <= 20; ++l) {
            const std::string code = padded(next++, 10);
            pro.text(code); pro.text("02." + padded(l, 3) + ".0001");
            pro.text(std::string(kGoods[size_t(l % kGoods.size())]) + " avulso " + std::to_string(l));
            pro.null();
            pro.endRow();
            sellable.push_back(code);
        }
        pro.finish();
    }

    SeedCounts counts;
    const long long today = todayDayCount();
    RowInserter ped(db, "PEDIDO", {"CDFILIAL", "NRPEDIDO", "CDCLIENTE", "CDFILDEST", "CDVENDEDOR",
                                   "DTPEDIDO", "DTENTPED", "CDSTATUS"});
    RowInserter ite(db, "ITEMPEDIDO", {"CDFILIAL", "NRPEDIDO", "NRITEMPED", "CDPRODUTO", "QTITEMPED",
                                       "DSEMISSAOITPED"});
    ite.writeAfter(ped);
    for (long long i = 1; i <= orders; ++i) {
        const Branch &branch = kBranches[size_t((i - 1) % kBranches.size())];
        const std::string number = padded(i, 10);
        const bool toBranch = i % 7 == 0;
        const long long entry = today - dice.below(61);
        ped.text(branch.code); ped.text(number);
        if (toBranch) {
            ped.null();
            ped.text(kBranches[size_t(i % kBranches.size())].code);
        } else {
            ped.text("C" + padded(1 + dice.below(customers), 6));
            ped.null();
        }
        ped.text(padded(1 + dice.below(sellers), 4));
        ped.text(isoFromDayCount(entry));
        if (i % 5 == 3)
            ped.null();
        else
            ped.text(isoFromDayCount(entry + dice.below(31)));
        // Statuses advance once per round of branches, so that every branch
        // has orders of every status.
        ped.number(double(1 + ((i - 1) / (long long)kBranches.size()) % 6));
        ped.endRow();
        const long long items = 8 + dice.below(5);
        for (long long k = 1; k <= items; ++k) {
            ite.text(branch.code); ite.text(number); ite.text(padded(k, 4));
            ite.text(sellable[size_t(dice.below((long long)sellable.size()))]);
            ite.number(double(1 + dice.below(500)) / 4.0);
            if (k % 4 == 1)
                ite.text(std::string(dice.pick(kGoods)) + " - conforme pedido");
            else
                ite.null();
            ite.endRow();
        }
        counts.items += items;
    }
    ped.finish();
    ite.finish();
    counts.orders = orders;
    tx.commit();
    // Fresh statistics, so that the planners pick the date index for the
    // screen's usual filter rather than the low-selectivity ones.
    db.execScript("ANALYZE");
    return counts;
}

} // namespace opd::db
