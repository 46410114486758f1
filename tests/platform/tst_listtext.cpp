// The pickers' list text: the client's writer and the one reader the client
// and the application server share.
#include "platform/ListText.h"

#include <QTest>

class TstListText : public QObject
{
    Q_OBJECT
private slots:
    void awkwardKeysRoundTrip()
    {
        const QStringList keys{QStringLiteral("A"), QStringLiteral("B'C"), QStringLiteral("D,E"),
                               QStringLiteral(" lead"), QStringLiteral("''"), QString(),
                               QStringLiteral("São ç")};
        const QString text = opd::listtext::join(keys);
        QCOMPARE(text, QStringLiteral("'A','B''C','D,E',' lead','''''','','São ç'"));
        QStringList back;
        QString error;
        QVERIFY2(opd::listtext::parse(text, &back, &error), qPrintable(error));
        QCOMPARE(back, keys);

        // The server reads the client's bytes to the same keys.
        std::vector<std::string> serverKeys;
        QVERIFY(opd::listtext::parse(text.toStdString(), &serverKeys));
        QCOMPARE(serverKeys.size(), size_t(keys.size()));
        for (size_t k = 0; k < serverKeys.size(); ++k)
            QCOMPARE(QString::fromStdString(serverKeys[k]), keys.at(qsizetype(k)));
    }

    void emptyAndBlankTextsAreTheEmptyList()
    {
        for (const char *text : {"", " ", "\t  "}) {
            std::vector<std::string> keys{"keep"};
            QVERIFY2(opd::listtext::parse(text, &keys), text);
            QVERIFY(keys.empty());
        }
        QCOMPARE(opd::listtext::join(QStringList()), QString());
        std::vector<std::string> keys;
        QVERIFY(opd::listtext::parse(" 'A','B'\t", &keys));
        QCOMPARE(keys, (std::vector<std::string>{"A", "B"}));
        QVERIFY(opd::listtext::parse("' A '", &keys));   // blanks inside quotes are the key's
        QCOMPARE(keys, std::vector<std::string>{" A "});
    }

    void malformedTextsAreRefusedWithWhere_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("unquoted") << QByteArray("A,B") << "(posição 1): esperava aspas simples.";
        QTest::newRow("unterminated") << QByteArray("'A','B") << "(posição 7): aspas não fechadas.";
        QTest::newRow("blank after comma") << QByteArray("'A', 'B'") << "(posição 5): esperava aspas simples.";
        QTest::newRow("trailing comma") << QByteArray("'A',") << "(posição 5): vírgula no fim.";
        QTest::newRow("text after quote") << QByteArray("'A'x") << "(posição 4): esperava vírgula.";
        QTest::newRow("single quote inside") << QByteArray("'B'C'") << "(posição 4): esperava vírgula.";
        // Positions count characters, not bytes: "ção" is three.
        QTest::newRow("after accents") << QByteArray("'ção'x") << "(posição 6): esperava vírgula.";
        QTest::newRow("NUL in a key") << QByteArray("'A\0B'", 5) << "(posição 3): caractere nulo na chave.";
        QTest::newRow("not UTF-8") << QByteArray("'A\xff'") << "o texto não é UTF-8 válido.";
        QTest::newRow("overlong slash") << QByteArray("'\xc0\xaf'") << "o texto não é UTF-8 válido.";
    }

    void malformedTextsAreRefusedWithWhere()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        std::vector<std::string> keys{"keep"};
        std::string error;
        QVERIFY(!opd::listtext::parse(std::string_view(text.constData(), size_t(text.size())), &keys, &error));
        QVERIFY2(QString::fromStdString(error).endsWith(message), error.c_str());
        QVERIFY(QString::fromStdString(error).startsWith(QStringLiteral("Lista inválida")));
        QCOMPARE(keys, std::vector<std::string>{"keep"});
    }
};

QTEST_APPLESS_MAIN(TstListText)
#include "tst_listtext.moc"
