#include "sampletable.h"
#include "summaryrepair.h"
#include "summarytriggers.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

// Files keep the triggers' text of the version that made them, and the recorder tells a version
// by that text word for word: the text of each version is written from shared pieces, and an
// edit of one piece must not change any version's text.
class TestSummaryTriggers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filesOfEachVersion_data();
    void filesOfEachVersion();

private:
    QTemporaryDir dir;
    int files = 0;
};

void TestSummaryTriggers::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
}

void TestSummaryTriggers::filesOfEachVersion_data()
{
    QTest::addColumn<QString>("golden");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<bool>("changeMarks");
    QTest::addColumn<int>("repair");
    // Catches a changed text of this version's triggers: every file made so far would look
    // foreign and lose its summary to a rebuild.
    QTest::newRow("this version") << QStringLiteral("summarytriggers-now.sql")
                                  << SummaryTriggers::createTriggerStatements() << true
                                  << int(SummaryRepair::Repair::None);
    // Catches a changed text of the slower triggers: their files would be rebuilt instead of
    // getting this version's triggers at once.
    QTest::newRow("this version's first triggers")
        << QStringLiteral("summarytriggers-slower.sql")
        << SummaryTriggers::slowerTriggerStatements() << true
        << int(SummaryRepair::Repair::ReplaceTriggers);
    // Catches a changed text of the first version's triggers: a sound summary of that version
    // would be rebuilt.
    QTest::newRow("the first version") << QStringLiteral("summarytriggers-first.sql")
                                       << SummaryTriggers::earlierTriggerStatements() << false
                                       << int(SummaryRepair::Repair::ReplaceTriggers);
}

void TestSummaryTriggers::filesOfEachVersion()
{
    QFETCH(QString, golden);
    QFETCH(QStringList, statements);
    QFETCH(bool, changeMarks);
    QFETCH(int, repair);

    QFile file(QStringLiteral(GOLDEN_DIR "/") + golden);
    QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(file.fileName()));
    const QStringList stored =
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(statements, stored);

    // A file made with the stored text is taken for that version's.
    const QString path = dir.filePath(QString::number(++files) + QStringLiteral(".dat"));
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    QStringList schema{SampleTable::createStatement(), SampleTable::createIndexStatement(),
                       SampleTable::createSummaryStatement()};
    if (changeMarks)
        schema << SampleTable::createChangesStatement() << SampleTable::createStateStatement();
    bool made = true;
    for (const QString& statement : schema + stored)
        made = made && sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr,
                                    nullptr) == SQLITE_OK;
    const QString error = QString::fromUtf8(sqlite3_errmsg(db));
    const int found = int(SummaryRepair::summaryRepair(db));
    sqlite3_close(db);
    QVERIFY2(made, qPrintable(error));
    QCOMPARE(found, repair);
}

QTEST_GUILESS_MAIN(TestSummaryTriggers)
#include "tst_summarytriggers.moc"
