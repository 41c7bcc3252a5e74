// The chrome the three programs' windows share: project label and menu look (the version text
// is checked through the report window).
#include "windowchrome.h"

#include <QFont>
#include <QMenu>
#include <QTest>

class TestWindowChrome : public QObject
{
    Q_OBJECT

private slots:
    void projectLabel_data();
    void projectLabel();
    void menuLook();
};

void TestWindowChrome::projectLabel_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    const QString f40 = QStringLiteral("/srv/plant/").leftJustified(40, QLatin1Char('x'));
    QTest::newRow("short") << QStringLiteral("/srv/plant") << QStringLiteral("/srv/plant/Cold.tpc");
    QTest::newRow("40 characters, kept") << f40 << f40 + QStringLiteral("/Cold.tpc");
    QTest::newRow("41 characters, cut")
        << f40 + QLatin1Char('y') << f40 + QStringLiteral(".../Cold.tpc");
}

// Catches a cut one character off, or "..." added to a folder that fits.
void TestWindowChrome::projectLabel()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(WindowChrome::projectLabel(folder, QStringLiteral("Cold")), expected);
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
