#include "projectkeyreader.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

// The one reader of project-file keys: a hand-written value reads as written, a value in the
// form QSettings writes reads as QSettings reads it, a value that cannot be read is reported.
class TestProjectKeyReader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void handWritten_data();
    void handWritten();
    void writtenByQSettings_data();
    void writtenByQSettings();
    void unreadableFileReported();

private:
    QString writeFile(const QByteArray& text) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestProjectKeyReader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestProjectKeyReader::writeFile(const QByteArray& text) const
{
    const QString path = m_dir->filePath(QStringLiteral("site.tpc"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return path;
}

void TestProjectKeyReader::handWritten_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<bool>("problem");

    const QString ab = QStringLiteral("a@x.example, b@x.example");
    // A JSON document is no list of items: items() gives what QSettings makes of it.
    const QStringList asQSettingsSplits{QStringLiteral("(as QSettings splits it)")};
    const QStringList abItems{QStringLiteral("a@x.example"), QStringLiteral("b@x.example")};

    // Each row names the fault it catches.
    QTest::newRow("comma list read as an empty list value")
        << QByteArray("[General]\nK=a@x.example, b@x.example\n") << true << ab << abItems << false;
    QTest::newRow("comma list without blanks, no section")
        << QByteArray("K=a@x.example,b@x.example") << true
        << QStringLiteral("a@x.example,b@x.example") << abItems << false;
    QTest::newRow("list of quoted items: items lose their quotes")
        << QByteArray("K=\"a@x.example\", \"b@x.example\"\n") << true
        << QStringLiteral("\"a@x.example\", \"b@x.example\"") << abItems << false;
    QTest::newRow("whole value quoted as QSettings writes it")
        << QByteArray("K=\"a@x.example, b@x.example\"\n") << true << ab << QStringList{ab} << false;
    QTest::newRow("unquoted JSON keeps its quotes")
        << QByteArray("K={\"nodes\": [{\"DeviceNumber\": \"N1\", \"BatteryLow\": 20}]}\n") << true
        << QStringLiteral("{\"nodes\": [{\"DeviceNumber\": \"N1\", \"BatteryLow\": 20}]}")
        << asQSettingsSplits << false;
    QTest::newRow("unquoted JSON without a comma keeps its quotes")
        << QByteArray("K={\"nodes\": []}\n") << true << QStringLiteral("{\"nodes\": []}")
        << QStringList{QStringLiteral("{\"nodes\": []}")} << false;
    QTest::newRow("unquoted JSON with backslashes read as written")
        << QByteArray("K={\"a\": \"x\\\\y \\\"q\\\"\"}\n") << true
        << QStringLiteral("{\"a\": \"x\\\\y \\\"q\\\"\"}")
        << QStringList{QStringLiteral("{\"a\": \"x\\\\y \\\"q\\\"\"}")} << false;
    QTest::newRow("semicolon cuts the second address")
        << QByteArray("K=a@x.example; b@x.example\nL=1\n") << true
        << QStringLiteral("a@x.example; b@x.example")
        << QStringList{QStringLiteral("a@x.example; b@x.example")} << false;
    QTest::newRow("semicolon inside quotes as QSettings writes it")
        << QByteArray("K=\"a;b\"\n") << true << QStringLiteral("a;b")
        << QStringList{QStringLiteral("a;b")} << false;
    QTest::newRow("comment line is no value")
        << QByteArray("; K=old\nK=new\n; K=older\n") << true << QStringLiteral("new")
        << QStringList{QStringLiteral("new")} << false;
    QTest::newRow("equals sign in the value")
        << QByteArray("K=user=a\n") << true << QStringLiteral("user=a")
        << QStringList{QStringLiteral("user=a")} << false;
    QTest::newRow("escaped quotes in QSettings' notation")
        << QByteArray("K=say \\\"hi\\\"\n") << true << QStringLiteral("say \"hi\"")
        << QStringList{QStringLiteral("say \"hi\"")} << false;
    QTest::newRow("backslashes in QSettings' notation")
        << QByteArray("K=C:\\\\certs\\\\ca.pem\\tend\n") << true
        << QStringLiteral("C:\\certs\\ca.pem\tend")
        << QStringList{QStringLiteral("C:\\certs\\ca.pem\tend")} << false;
    QTest::newRow("repeated key: the last one counts")
        << QByteArray("K=a@x.example\nK=b@x.example, c@x.example\n") << true
        << QStringLiteral("b@x.example, c@x.example")
        << QStringList{QStringLiteral("b@x.example"), QStringLiteral("c@x.example")} << false;
    QTest::newRow("repeated key: a later plain value over a list")
        << QByteArray("K=a@x.example, b@x.example\nK=c@x.example\n") << true
        << QStringLiteral("c@x.example") << QStringList{QStringLiteral("c@x.example")} << false;
    QTest::newRow("no section and [General] are one")
        << QByteArray("K=a, b\n[General]\nK=c, d\n") << true << QStringLiteral("c, d")
        << QStringList{QStringLiteral("c"), QStringLiteral("d")} << false;
    QTest::newRow("[general] in lower case, other section ignored")
        << QByteArray("[general]\nK=c, d\n[Other]\nK=e, f\n") << true << QStringLiteral("c, d")
        << QStringList{QStringLiteral("c"), QStringLiteral("d")} << false;
    QTest::newRow("key only in another section is absent")
        << QByteArray("[Other]\nK=e, f\n") << false << QString() << QStringList() << false;
    QTest::newRow("CRLF line ends")
        << QByteArray("[General]\r\nK=a@x.example, b@x.example\r\nL=x\r\n") << true << ab << abItems
        << false;
    QTest::newRow("byte order mark")
        << QByteArray("\xef\xbb\xbf[General]\nK=a@x.example, b@x.example\n") << true << ab
        << abItems << false;
    QTest::newRow("UTF-8 in a hand-written list")
        << QByteArray("K=j\xc3\xb6rg@x.example, b@x.example\n") << true
        << QStringLiteral("j\u00f6rg@x.example, b@x.example")
        << QStringList{QStringLiteral("j\u00f6rg@x.example"), QStringLiteral("b@x.example")}
        << false;
    QTest::newRow("bytes that are no UTF-8 read one by one")
        << QByteArray("K=caf\xe9@x.example, b@x.example\n") << true
        << QStringLiteral("caf\u00e9@x.example, b@x.example")
        << QStringList{QStringLiteral("caf\u00e9@x.example"), QStringLiteral("b@x.example")}
        << false;
    QTest::newRow("@ByteArray as QSettings writes it")
        << QByteArray("K=@ByteArray(abc)\n") << true << QStringLiteral("abc")
        << QStringList{QStringLiteral("abc")} << false;
    QTest::newRow("a rectangle holds no text: reported")
        << QByteArray("K=@Rect(1 2 3 4)\n") << true << QString() << QStringList() << true;
    QTest::newRow("an invalid value: reported")
        << QByteArray("K=@Invalid()\n") << true << QString() << QStringList() << true;
}

// Catches a hand-written value read as empty or changed, or one QSettings writes read otherwise
// than QSettings reads it, or a value that cannot be read passed over in silence.
void TestProjectKeyReader::handWritten()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, present);
    QFETCH(QString, text);
    QFETCH(QStringList, items);
    QFETCH(bool, problem);

    const QString path = writeFile(file);
    QVERIFY(!path.isEmpty());
    if (problem)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("key K holds no text")));
    const ProjectKeyReader reader(path);
    QCOMPARE(reader.contains(QStringLiteral("K")), present);
    QCOMPARE(reader.text(QStringLiteral("K")), text);
    if (items == QStringList{QStringLiteral("(as QSettings splits it)")})
        items = QSettings(path, QSettings::IniFormat).value(QStringLiteral("K")).toStringList();
    QCOMPARE(reader.items(QStringLiteral("K")), items);
    // A document's bytes are those of the line, whether UTF-8 or not.
    const int from = file.indexOf("K=") + 2;
    const QByteArray line = file.mid(from, file.indexOf('\n', from) - from).trimmed();
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(line.constData(), line.size(), &state);
    if (!problem)
        QCOMPARE(reader.bytes(QStringLiteral("K")), state.invalidChars == 0 ? text.toUtf8() : line);
    QCOMPARE(reader.problems().size(), problem ? 1 : 0);
    if (problem)
        QVERIFY(reader.problems().at(0).contains(QLatin1String("K")));
}

void TestProjectKeyReader::writtenByQSettings_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("commas and blanks") << QVariant(QStringLiteral(" a, b ,c "));
    QTest::newRow("semicolon and equals") << QVariant(QStringLiteral("a;b=c"));
    QTest::newRow("quotes and backslashes") << QVariant(QStringLiteral("\"q\" \\ \\\" x"));
    QTest::newRow("starts with @") << QVariant(QStringLiteral("@ByteArray(x)"));
    QTest::newRow("control characters") << QVariant(QStringLiteral("a\nb\r\tc\x01"));
    QTest::newRow("beyond Latin-1") << QVariant(QStringLiteral("K\u00fchlhaus \u6e29\u5ea6"));
    QTest::newRow("JSON bytes") << QVariant(QByteArray("{\"a\": [1, 2], \"b\": \"x;y\"}\n"));
    QTest::newRow("bytes beyond ASCII") << QVariant(QByteArray("\xff\x00\xe9,\"", 5));
    QTest::newRow("empty") << QVariant(QString());
}

// Catches the reader taking a value the recorder wrote through QSettings for a hand-written one.
void TestProjectKeyReader::writtenByQSettings()
{
    QFETCH(QVariant, value);
    const QString path = m_dir->filePath(QStringLiteral("site.tpc"));
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Before"), QStringLiteral("x, y"));
        settings.setValue(QStringLiteral("K"), value);
        settings.setValue(QStringLiteral("L"), 7);
    }
    const ProjectKeyReader reader(path);
    QCOMPARE(reader.value(QStringLiteral("K")), QSettings(path, QSettings::IniFormat).value("K"));
    if (value.userType() == QMetaType::QByteArray)
        QCOMPARE(reader.bytes(QStringLiteral("K")), value.toByteArray());
    else
        QCOMPARE(reader.text(QStringLiteral("K")), value.toString());
    QCOMPARE(reader.text(QStringLiteral("Before")), QStringLiteral("x, y"));
    QCOMPARE(reader.value(QStringLiteral("L")).toInt(), 7);
    QVERIFY(reader.problems().isEmpty());
}

// Catches a file that cannot be opened read as an empty project without a word.
void TestProjectKeyReader::unreadableFileReported()
{
    const QString path = m_dir->filePath(QStringLiteral("folder.tpc"));
    QVERIFY(QDir().mkpath(path));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("project file could not be read")));
    const ProjectKeyReader reader(path);
    QVERIFY(!reader.contains(QStringLiteral("K")));
    QCOMPARE(reader.problems().size(), 1);
}

QTEST_GUILESS_MAIN(TestProjectKeyReader)
#include "tst_projectkeyreader.moc"
