#include "nodesample.h"

#include <QtTest>

#include <limits>

// The texts a sample is shown by and the numbers read from texts: one rule for every consumer.
class TestNodeSample : public QObject
{
    Q_OBJECT

private slots:
    void channelTexts_data();
    void channelTexts();
    void levels_data();
    void levels();
};

void TestNodeSample::channelTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasValue");
    QTest::addColumn<QString>("shown");
    QTest::newRow("two decimals") << "21.50" << true << "21.50";
    QTest::newRow("negative") << "-18.10" << true << "-18.10";
    QTest::newRow("largest float") << "340282346638528859811704183484516925440.00" << true
                                   << "340282346638528859811704183484516925440.00";
    QTest::newRow("empty is none") << "" << false << "";
    QTest::newRow("not a number is none") << "nan" << false << "";
    QTest::newRow("infinite is none") << "inf" << false << "";
    QTest::newRow("beyond double is none") << "1e999" << false << "";
    QTest::newRow("letters are none") << "abc" << false << "";
}

// Catches a no-value channel that becomes 0 or infinity (stored, alarmed, drawn), or a number
// whose text differs from the one the gateway's decoding showed.
void TestNodeSample::channelTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, hasValue);
    QFETCH(QString, shown);
    const std::optional<double> number = NodeSample::channelNumber(text);
    QCOMPARE(number.has_value(), hasValue);
    QCOMPARE(NodeSample::channelText(number), shown);
}

void TestNodeSample::levels_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasValue");
    QTest::addColumn<QString>("shown");
    QTest::newRow("level") << "87" << true << "87";
    QTest::newRow("negative link quality") << "-3" << true << "-3";
    QTest::newRow("none") << "-1" << false << "-1";
    QTest::newRow("empty") << "" << false << "-1";
    QTest::newRow("wider than an int") << "99999999999" << false << "-1";
}

// Catches "-1" (the gateway has none) taken for a level, or a level that does not read back.
void TestNodeSample::levels()
{
    QFETCH(QString, text);
    QFETCH(bool, hasValue);
    QFETCH(QString, shown);
    const std::optional<int> level = NodeSample::levelNumber(text);
    QCOMPARE(level.has_value(), hasValue);
    QCOMPARE(NodeSample::levelText(level), shown);
}

QTEST_GUILESS_MAIN(TestNodeSample)
#include "tst_nodesample.moc"
