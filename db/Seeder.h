#pragma once
// Deterministic demo data in Brazilian Portuguese: the same seed and order
// count give the same rows (dates are relative to the day of seeding).
//
// Shape, which tests rely on:
//  - branches 0001..0008 of company "01" and 0009..0010 of company "02";
//    0006, 0007 and 0010 have IDCNTRRESC 'S';
//  - customers with a 'P' address, some also with a 'C' one;
//  - salespeople, every fifth one with IDCARGOVEND 'R';
//  - stock products each shared by 2-4 purchase products, and products
//    with no stock product;
//  - order i (1-based) is NRPEDIDO i zero-padded to 10 digits, of branch
//    (i-1) mod 10 in the list; statuses cycle through 1-6 per branch; every seventh order goes to a destination branch instead of
//    a customer; 8-12 items per order (10 on average); entry dates within the
//    last 60 days, delivery dates up to 30 days later or none.

#include "db/Database.h"

#include <cstdint>

namespace opd::db {

struct SeedCounts
{
    long long orders = 0;
    long long items = 0;
};

class Seeder
{
public:
    // Replaces every demo row (orders, items, audit, lookup tables) in one
    // transaction. The schema must be migrated.
    static SeedCounts seed(Database &db, long long orders, std::uint64_t seed);
};

} // namespace opd::db
