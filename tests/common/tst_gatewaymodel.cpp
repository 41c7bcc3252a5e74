#include "gatewaymodel.h"

#include <QtTest>

// The one table of gateway models: the lookup every consumer makes, and the models the editor
// offers.
class TestGatewayModel : public QObject
{
    Q_OBJECT

private slots:
    void reportsLinkInfo_data();
    void reportsLinkInfo();
    void editorOffersEveryRowInOrder();
};

void TestGatewayModel::reportsLinkInfo_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("reports");
    QTest::newRow("TQ100") << "TQ100" << true;
    QTest::newRow("TQ700") << "TQ700" << false;
    QTest::newRow("lower case is another text") << "tq100" << false;
    QTest::newRow("trailing blank") << "TQ100 " << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("unknown model") << "TQ900" << false;
}

// Catches a lookup that matches loosely (case, blanks), or answers yes for a model nobody knows:
// link quality and battery would be read from another node's channel registers.
void TestGatewayModel::reportsLinkInfo()
{
    QFETCH(QString, model);
    QFETCH(bool, reports);
    QCOMPARE(GatewayModel::reportsLinkInfo(model), reports);
}

// Catches the editor's model list falling out of step with the table, or its order changing
// (the first is what a new connection starts with).
void TestGatewayModel::editorOffersEveryRowInOrder()
{
    QCOMPARE(GatewayModel::names(), (QStringList{QStringLiteral("TQ100"), QStringLiteral("TQ700")}));
    for (const GatewayModel::Row& row : GatewayModel::rows())
        QCOMPARE(GatewayModel::reportsLinkInfo(row.name), row.reportsLinkInfo);
}

QTEST_GUILESS_MAIN(TestGatewayModel)
#include "tst_gatewaymodel.moc"
