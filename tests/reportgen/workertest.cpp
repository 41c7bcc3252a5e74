#include "workertest.h"

#include <QStandardPaths>
#include <QTest>

void WorkerTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    space = std::make_unique<ReportFixture::Workspace>("Europe/Berlin");
    QVERIFY(space->isValid());
}

void WorkerTest::cleanupTestCase()
{
    space.reset();
}

void WorkerTest::init()
{
    tables = ReportTables();
    dbPath = space->nextDatabase();
}
