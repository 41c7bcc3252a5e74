#include "correctivecauses.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// The causes an acknowledgement offers, from a project file written by hand: each row a line of
// the file and what the list holds between the defaults and "other".
class TestCorrectiveCauses : public QObject
{
    Q_OBJECT

private slots:
    void projectKey_data();
    void projectKey();
};

void TestCorrectiveCauses::projectKey_data()
{
    QTest::addColumn<QByteArray>("line"); // of the project file; empty: no key
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<int>("problems");

    // Catches: a project without the key offering no causes at all.
    QTest::newRow("no key") << QByteArray() << QStringList() << 0;
    // Catches: the list cut at the first ';' as QSettings would cut it.
    QTest::newRow("two causes") << QByteArray("CorrectiveCauses=compressor trip; late delivery")
                                << QStringList{"compressor trip", "late delivery"} << 0;
    // Catches: empty items and blanks round them made into causes.
    QTest::newRow("empty items") << QByteArray("CorrectiveCauses= ;; blast chiller ;")
                                 << QStringList{"blast chiller"} << 0;
    // Catches: a default repeated (in another case), or "other" moved from the end.
    QTest::newRow("repeats") << QByteArray("CorrectiveCauses=Defrost;other;ice;ICE")
                             << QStringList{"ice"} << 0;
    // Catches: a control character (an escape sequence for a terminal, a bell) offered to users.
    QTest::newRow("control character")
        << QByteArray("CorrectiveCauses=\"bad\\x1b[31m;good\"") << QStringList{"good"} << 1;
    // Catches: a line break written as QSettings' escape turning one cause into two lines.
    QTest::newRow("line break") << QByteArray("CorrectiveCauses=\"a\\nb;c\"") << QStringList{"c"}
                                << 1;
    // Catches: a direction mark hiding what a cause says.
    QTest::newRow("format character") << QByteArray("CorrectiveCauses=x\xe2\x80\xaey;z")
                                      << QStringList{"z"} << 1;
    // Catches: an item too long for a list refused, or its neighbours with it.
    QTest::newRow("too long item") << (QByteArray("CorrectiveCauses=") + QByteArray(81, 'x') +
                                       QByteArray(";fine"))
                                   << QStringList{"fine"} << 1;
    // Catches: an item of exactly the bound refused.
    QTest::newRow("item at the bound")
        << (QByteArray("CorrectiveCauses=") + QByteArray(80, 'y')) << QStringList{QString(80, 'y')}
        << 0;
    // Catches: a huge value read whole into the form.
    QTest::newRow("huge value") << (QByteArray("CorrectiveCauses=") + QByteArray(5000, 'z'))
                                << QStringList() << 1;
    // Catches: no bound on the number of causes.
    QByteArray many("CorrectiveCauses=");
    QStringList thirty;
    for (int i = 1; i <= 35; ++i) {
        many += "cause " + QByteArray::number(i) + ";";
        if (i <= 30)
            thirty << QStringLiteral("cause %1").arg(i);
    }
    QTest::newRow("too many") << many << thirty << 1;
    // Catches: a value QSettings would not split read as a list anyway, or non-ASCII mangled.
    QTest::newRow("one cause, UTF-8") << QByteArray("CorrectiveCauses=Kühlaggregat, Störung")
                                      << QStringList{QStringLiteral("Kühlaggregat, Störung")}
                                      << 0;
}

void TestCorrectiveCauses::projectKey()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, added);
    QFETCH(int, problems);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.tpc"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nProjectName=p\n" + line + "\n");
    file.close();

    QStringList found;
    const QStringList causes = CorrectiveCauses::fromProject(path, &found);
    QStringList expected = CorrectiveCauses::defaults();
    expected.removeLast();
    expected << added << CorrectiveCauses::other();
    QCOMPARE(causes, expected);
    QCOMPARE(found.size(), problems);
}

QTEST_GUILESS_MAIN(TestCorrectiveCauses)
#include "tst_correctivecauses.moc"
