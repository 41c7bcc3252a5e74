// The chrome the three programs' windows share: version text, project label, menu look.
#include "windowchrome.h"

#include <QFont>
#include <QMenu>
#include <QTest>

class TestWindowChrome : public QObject
{
    Q_OBJECT

private slots:
    void versionText();
    void projectLabel_data();
    void projectLabel();
    void shortFolderTakesItsLength();
    void menuLook();
};

// Catches a version number from the build given in another form than the title bars show.
void TestWindowChrome::versionText()
{
    QCOMPARE(WindowChrome::versionText(), QStringLiteral("V3.49"));
}

void TestWindowChrome::projectLabel_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    const QString f40 = QStringLiteral("/srv/plant/").leftJustified(40, QLatin1Char('x'));
    QTest::newRow("short") << QStringLiteral("/srv/plant") << QStringLiteral("/srv/plant/Cold.tpc");
    QTest::newRow("40 characters, kept") << f40 << f40 + QStringLiteral("/Cold.tpc");
    QTest::newRow("41 characters, cut")
        << f40 + QLatin1Char('y') << f40 + QStringLiteral(".../Cold.tpc");
    QTest::newRow("empty folder") << QString() << QStringLiteral("/Cold.tpc");
}

// Catches a cut one character off, or "..." added to a folder that fits.
void TestWindowChrome::projectLabel()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(WindowChrome::projectLabel(folder, QStringLiteral("Cold")), expected);
}

// Catches the start screen's longer cut falling back to the status bars' 40 characters.
void TestWindowChrome::shortFolderTakesItsLength()
{
    const QString f71 = QString(71, QLatin1Char('d'));
    QCOMPARE(WindowChrome::shortFolder(f71, 70), f71.left(70) + QStringLiteral("..."));
    QCOMPARE(WindowChrome::shortFolder(f71.left(70), 70), f71.left(70));
}

// Catches a menu that loses the window's font family or size when made bold, or the grey.
void TestWindowChrome::menuLook()
{
    QWidget window;
    QFont font(QStringLiteral("Segoe UI"), 11);
    window.setFont(font);
    QMenu menu(&window);
    WindowChrome::styleMenu(&menu, window.font());
    QCOMPARE(menu.styleSheet(), QStringLiteral("background-color: rgb(203, 203, 203);"));
    QVERIFY(menu.font().bold());
    QCOMPARE(menu.font().family(), window.font().family());
    QCOMPARE(menu.font().pointSize(), 11);
    QVERIFY(!window.font().bold());
}

QTEST_MAIN(TestWindowChrome)
#include "tst_windowchrome.moc"
