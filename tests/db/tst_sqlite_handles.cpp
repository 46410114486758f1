// The server's SQLite connection reads through a memory-mapped handle and
// writes through a plain one. These tests pin what callers rely on across
// the two: reads see what was committed, a read keeps its snapshot while
// others write, and a transaction cannot be opened twice.

#include "db/Database.h"

#include <QTemporaryDir>
#include <QtTest>

using opd::db::Database;
using opd::db::DbError;

class TstSqliteHandles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::string url() const { return "sqlite:" + m_dir.filePath(QStringLiteral("h.db")).toStdString(); }

    static long long count(Database &db)
    {
        auto stmt = db.prepare("SELECT COUNT(*) FROM T");
        if (!stmt->step())
            return -1;
        return (long long)stmt->number(0);
    }
    static void insert(Database &db, const char *value)
    {
        db.begin(true);
        auto stmt = db.prepare("INSERT INTO T (V) VALUES (?)");
        stmt->bindText(1, value);
        stmt->exec();
        db.commit();
    }

private slots:
    void init()
    {
        QFile::remove(m_dir.filePath(QStringLiteral("h.db")));
        auto db = Database::open(url());
        db->execScript("DROP TABLE IF EXISTS T; CREATE TABLE T (V TEXT NOT NULL);");
    }

    void readTransactionSeesWhatWasCommittedThroughTheWriteHandle()
    {
        auto db = Database::open(url());
        insert(*db, "a");
        db->begin(false);
        QCOMPARE(count(*db), 1LL);
        db->commit();
        insert(*db, "b");
        db->begin(false);
        QCOMPARE(count(*db), 2LL);
        db->commit();
    }

    void readKeepsItsSnapshotWhileAnotherConnectionWrites()
    {
        auto reader = Database::open(url());
        auto writer = Database::open(url());
        insert(*writer, "a");
        reader->begin(false);
        QCOMPARE(count(*reader), 1LL);
        insert(*writer, "b");               // must not wait for the open read
        QCOMPARE(count(*reader), 1LL);      // same snapshot inside the read
        reader->commit();
        reader->begin(false);
        QCOMPARE(count(*reader), 2LL);
        reader->commit();
    }

    void aSecondTransactionIsRefusedAndTheFirstStaysUsable()
    {
        auto db = Database::open(url());
        db->begin(false);
        QVERIFY_THROWS_EXCEPTION(DbError, db->begin(true));
        QCOMPARE(count(*db), 0LL);
        db->commit();
        insert(*db, "a");                   // the write handle was not left in a transaction
        db->begin(false);
        QCOMPARE(count(*db), 1LL);
        db->rollback();
    }

    void inMemoryDatabaseReadsItsOwnWrites()
    {
        auto db = Database::open("sqlite::memory:");
        db->execScript("CREATE TABLE T (V TEXT NOT NULL);");
        insert(*db, "a");
        db->begin(false);
        QCOMPARE(count(*db), 1LL);
        db->commit();
    }
};

QTEST_GUILESS_MAIN(TstSqliteHandles)
#include "tst_sqlite_handles.moc"
