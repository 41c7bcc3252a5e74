#include "novalue.h"
#include "reportfixture.h"
#include "samplereader.h"
#include "viewersamplereader.h"

#include <QTemporaryDir>
#include <QtTest>

using ReportFixture::Sample;

namespace {

// What a reader hands out for a node's channel: "time=value", "time=-" for no value.
using Readings = QStringList;

QString reading(qint64 time, bool present, double value)
{
    return QString::number(time) + QLatin1Char('=') +
           (present ? QString::number(value) : QStringLiteral("-"));
}

// Every way to a node's rows in time order, so that each keeps the same two rules.
enum Path
{
    Report,
    ReportChannel,
    Viewer,
    ViewerByIds
};

// The reports' and the viewer's readers of one file.
struct Readers
{
    SampleReader report;
    ViewerSampleReader viewer;

    bool open(const QString& file) { return report.open(file) && viewer.open(file); }
    const QString& errorText(Path path) const
    {
        return path == Report || path == ReportChannel ? report.errorText() : viewer.errorText();
    }
};

Readings readNode(Readers* readers, Path path, const QString& serial, int channel, qint64 from,
                  qint64 to, bool* ok)
{
    SampleReader* reader = &readers->report;
    ViewerSampleReader* viewer = &readers->viewer;
    Readings out;
    const QByteArray utf8 = serial.toUtf8();
    auto stored = [&](const StoredRow& row) {
        if (QByteArray(row.serial, row.serialLength) != utf8)
            out << QStringLiteral("foreign serial");
        out << reading(row.time, row.present[channel - 1], row.value[channel - 1]);
        return true;
    };
    switch (path) {
    case Report:
        *ok = reader->read({{serial, channel == 1, channel == 2}}, from, to,
                           [&](int, qint64 t, double v1, double v2) {
                               const double v = channel == 1 ? v1 : v2;
                               out << reading(t, v != NoValue, v);
                           });
        break;
    case ReportChannel: {
        std::vector<SampleReader::ChannelSamples> samples;
        qint64 rows = 0;
        // Both channels in one pass, as for a report of both.
        *ok =
            reader->channelSamples(serial, {QStringLiteral("channel2"), QStringLiteral("channel1")},
                                   from, to, &samples, &rows);
        for (const SampleReader::ChannelSample& s : samples.at(channel == 1 ? 1 : 0))
            out << reading(s.time, s.value != NoValue, s.value);
        break;
    }
    case Viewer:
        *ok = viewer->nodeRows(utf8, from, to, stored);
        break;
    case ViewerByIds:
        *ok = viewer->nodeRowsInIds(utf8, from, to, 1, viewer->maxId(), stored);
        break;
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<Sample>)

class TestSampleReader : public QObject
{
    Q_OBJECT

private slots:
    void oneRulePerSecond_data();
    void oneRulePerSecond();
    void failures();

private:
    QTemporaryDir dir;
    int files = 0;
};

void TestSampleReader::oneRulePerSecond_data()
{
    QTest::addColumn<int>("path");
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<int>("channel");
    QTest::addColumn<Readings>("expected"); // of node A from 10 to 20

    const QList<Sample> mixed{{"A", 1.5, 2.5, 10},        {"B", 9.0, 9.0, 10},
                              {"A", QVariant(), 3.0, 11}, {"A", NoValue, 4.0, 12},
                              {"A", 5.0, NoValue, 13},    {"A", 6.0, 7.0, 21}};
    const QList<Sample> repeated{{"A", 1.0, 2.0, 10},        {"A", 3.0, QVariant(), 10},
                                 {"A", 4.0, 5.0, 11},        {"B", 8.0, 8.0, 11},
                                 {"A", QVariant(), 6.0, 11}, {"A", 7.0, 8.0, 12}};
    const QList<Sample> outOfOrder{{"A", 1.0, 2.0, 12}, {"A", 3.0, 4.0, 10}, {"A", 5.0, 6.0, 12}};
    for (const Path path : {Report, ReportChannel, Viewer, ViewerByIds}) {
        const QString name =
            QStringList{"report", "report channel", "viewer", "viewer by ids"}.at(int(path));
        QTest::newRow(qPrintable(name + QStringLiteral(": NULL and the marker, channel 1")))
            << int(path) << mixed << 1 << Readings{"10=1.5", "11=-", "12=-", "13=5"};
        QTest::newRow(qPrintable(name + QStringLiteral(": NULL and the marker, channel 2")))
            << int(path) << mixed << 2 << Readings{"10=2.5", "11=3", "12=4", "13=-"};
        QTest::newRow(qPrintable(name + QStringLiteral(": the later row of a second, channel 1")))
            << int(path) << repeated << 1 << Readings{"10=3", "11=-", "12=7"};
        QTest::newRow(qPrintable(name + QStringLiteral(": the later row of a second, channel 2")))
            << int(path) << repeated << 2 << Readings{"10=-", "11=6", "12=8"};
        QTest::newRow(qPrintable(name + QStringLiteral(": a second written late")))
            << int(path) << outOfOrder << 1 << Readings{"10=3", "12=5"};
    }
}

// Catches a reader that shows the no-value marker as a value or NULL as 0, or that hands out
// both rows of a second (or the earlier one), where the other ways to the rows do not.
void TestSampleReader::oneRulePerSecond()
{
    QFETCH(int, path);
    QFETCH(QList<Sample>, samples);
    QFETCH(int, channel);
    QFETCH(Readings, expected);
    for (const bool indexed : {false, true}) {
        const QString file = dir.filePath(QString::number(++files) + QStringLiteral(".dat"));
        QVERIFY(ReportFixture::writeDatabase(file, samples, false, indexed));
        Readers readers;
        QVERIFY2(readers.open(file), qPrintable(readers.errorText(Path(path))));
        QCOMPARE(readers.report.hasIndex(), indexed);
        QCOMPARE(readers.viewer.hasIndex(), indexed);
        bool ok = false;
        QCOMPARE(readNode(&readers, Path(path), QStringLiteral("A"), channel, 10, 20, &ok),
                 expected);
        QVERIFY2(ok, qPrintable(readers.errorText(Path(path))));
    }
}

// Catches a reader that creates a missing file, or reports rows from a file without the table.
void TestSampleReader::failures()
{
    const QString missing = dir.filePath(QStringLiteral("missing.dat"));
    Readers readers;
    QVERIFY(!readers.open(missing));
    QVERIFY(!readers.report.isOpen());
    QVERIFY(!readers.report.errorText().isEmpty());
    QVERIFY(!QFile::exists(missing));
    bool ok = true;
    QVERIFY(readNode(&readers, ReportChannel, QStringLiteral("A"), 1, 0, 10, &ok).isEmpty());
    QVERIFY(!ok);

    const QString empty = dir.filePath(QStringLiteral("empty.dat"));
    QFile file(empty);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(readers.open(empty));
    QVERIFY(!readers.report.hasTable());
    QVERIFY(!readers.viewer.hasTable());
    for (const Path path : {Report, ReportChannel, Viewer}) {
        ok = true;
        readNode(&readers, path, QStringLiteral("A"), 1, 0, 10, &ok);
        QVERIFY(!ok);
        QVERIFY(!readers.errorText(path).isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestSampleReader)
#include "tst_samplereader.moc"
