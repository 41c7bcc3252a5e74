#include "messagedialog.h"
#include "topcustomframe.h"

#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

// Counts the mouse events that reach the frame's parent.
class Counter : public QWidget
{
public:
    int presses = 0;
    int moves = 0;
    int doubleClicks = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
    void mouseMoveEvent(QMouseEvent*) override { ++moves; }
    void mouseDoubleClickEvent(QMouseEvent*) override { ++doubleClicks; }
};

// Saves what a test shows when QUILLMAR_GRAB_DIR names a folder, so it can be looked at.
void grabFor(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!dir.isEmpty())
        widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

class TestMessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void look_data();
    void look();
    void textIsPlain_data();
    void textIsPlain();
    void closeButtonHides();
    void showMessageClosesItself();
    void twoMessagesCloseIndependently();
    void earlyCloseThenTimer();
    void parentlessDialogIsFreed();
    void topFrameSignals();
};

void TestMessageDialog::init()
{
    MessageDialog::setProgramLook(QStringLiteral("Quillmar Lite Modbus"),
                                  QStringLiteral(":/img/QuillmarLogoModbus.png"));
}

void TestMessageDialog::look_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("logo");
    QTest::newRow("recorder") << QStringLiteral("Quillmar Lite Modbus")
                              << QStringLiteral(":/img/QuillmarLogoModbus.png");
    QTest::newRow("report generator")
        << QStringLiteral("Quillmar Lite") << QStringLiteral(":/img/QuillmarLogo.png");
}

// Catches a dialog that shows the wrong program's title or logo, an image missing from the
// resources, or the form's "MESSAGE" caption left in place.
void TestMessageDialog::look()
{
    QFETCH(QString, title);
    QFETCH(QString, logo);
    MessageDialog::setProgramLook(title, logo);
    QWidget parent;
    MessageDialog dialog(QStringLiteral("ERROR"), QStringLiteral("Unable to open the file."),
                         &parent);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(dialog.size(), QSize(400, 300));
    QVERIFY(!dialog.windowIcon().isNull());
    auto* logoLabel = dialog.findChild<QLabel*>(QStringLiteral("label_logo"));
    QVERIFY(logoLabel);
    const QImage shown = logoLabel->pixmap(Qt::ReturnByValue).toImage();
    QVERIFY(!shown.isNull());
    QCOMPARE(shown, QImage(logo).convertToFormat(shown.format()));
    auto* group = dialog.findChild<QGroupBox*>(QStringLiteral("groupBox_message"));
    QVERIFY(group);
    QCOMPARE(group->title(), QStringLiteral("ERROR"));
    auto* browser = dialog.findChild<QTextBrowser*>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    QCOMPARE(browser->toPlainText(), QStringLiteral("Unable to open the file."));
    auto* close = dialog.findChild<QPushButton*>(QStringLiteral("pushButton_close"));
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("CLOSE"));
    grabFor(&dialog, QStringLiteral("messagedialog-") + QTest::currentDataTag());
}

void TestMessageDialog::textIsPlain_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("two lines") << QStringLiteral("Please select at least one or more Device.\n"
                                                 "Please retry.");
    QTest::newRow("markup") << QStringLiteral("<b>DB File</b> \"/tmp/a&b.dat\" is not exists!");
    QTest::newRow("script") << QStringLiteral("<script>alert(1)</script><img src=x>");
}

// Catches messages whose text is taken for markup: a path or name with "<" or "&" must show as
// typed, line breaks must stay.
void TestMessageDialog::textIsPlain()
{
    QFETCH(QString, text);
    QWidget parent;
    MessageDialog dialog(QStringLiteral("ERROR"), text, &parent);
    auto* browser = dialog.findChild<QTextBrowser*>(QStringLiteral("textBrowser"));
    QVERIFY(browser);
    QCOMPARE(browser->toPlainText(), text);
}

// Catches a CLOSE button that is not wired, or that destroys a dialog its parent still owns.
void TestMessageDialog::closeButtonHides()
{
    QWidget parent;
    MessageDialog* dialog = showMessage(&parent, QStringLiteral("WARNING"), QStringLiteral("x"));
    QPointer<MessageDialog> guard(dialog);
    QVERIFY(dialog->isVisible());
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("pushButton_close")),
                      Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCoreApplication::processEvents();
    QVERIFY(guard);
    QCOMPARE(dialog->parent(), &parent);
}

// Catches a message that blocks its caller, stays up, or closes on another delay than 5 s.
void TestMessageDialog::showMessageClosesItself()
{
    QWidget parent;
    QElapsedTimer clock;
    clock.start();
    MessageDialog* dialog =
        showMessage(&parent, QStringLiteral("INFORMATION"), QStringLiteral("x"));
    QVERIFY(clock.elapsed() < 4000); // returned before the auto-close: not modal
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    auto* timer = dialog->findChild<QTimer*>(QStringLiteral("autoCloseTimer"));
    QVERIFY(timer);
    QVERIFY(timer->isSingleShot());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 7000);
    QVERIFY2(clock.elapsed() >= 4900, qPrintable(QString::number(clock.elapsed())));
}

// Catches a shared timer or a second message replacing the first: each closes 5 s after its own
// appearance.
void TestMessageDialog::twoMessagesCloseIndependently()
{
    QWidget parent;
    MessageDialog* first = showMessage(&parent, QStringLiteral("ERROR"), QStringLiteral("one"));
    auto* firstTimer = first->findChild<QTimer*>(QStringLiteral("autoCloseTimer"));
    QVERIFY(firstTimer);
    const int firstLeft = firstTimer->remainingTime();
    MessageDialog* second = showMessage(&parent, QStringLiteral("ERROR"), QStringLiteral("two"));
    auto* secondTimer = second->findChild<QTimer*>(QStringLiteral("autoCloseTimer"));
    QVERIFY(secondTimer);
    QVERIFY(secondTimer != firstTimer);
    QVERIFY(first->isVisible());
    QVERIFY(second->isVisible());
    // The second message restarts no timer of the first.
    QVERIFY(firstTimer->isActive());
    QVERIFY2(firstTimer->remainingTime() <= firstLeft,
             qPrintable(QString::number(firstTimer->remainingTime())));
    // The timers are driven: the first's time is up, then the second's.
    QVERIFY(QMetaObject::invokeMethod(firstTimer, "timeout"));
    QVERIFY(!first->isVisible());
    QVERIFY(second->isVisible());
    QVERIFY(QMetaObject::invokeMethod(secondTimer, "timeout"));
    QVERIFY(!second->isVisible());
}

// Catches a timer that fires into a closed dialog in a harmful way (re-showing or deleting it).
void TestMessageDialog::earlyCloseThenTimer()
{
    QWidget parent;
    QPointer<MessageDialog> dialog =
        showMessage(&parent, QStringLiteral("ERROR"), QStringLiteral("x"));
    dialog->close();
    auto* timer = dialog->findChild<QTimer*>(QStringLiteral("autoCloseTimer"));
    QVERIFY(timer);
    QSignalSpy fired(timer, &QTimer::timeout);
    QVERIFY(fired.wait(7000));
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
}

// Catches a dialog without a parent that leaks after it closes.
void TestMessageDialog::parentlessDialogIsFreed()
{
    QPointer<MessageDialog> dialog =
        showMessage(nullptr, QStringLiteral("ERROR"), QStringLiteral("x"));
    QVERIFY(dialog);
    dialog->close();
    QTRY_VERIFY(!dialog);
}

// Catches a top bar that hands its mouse events on, or emits positions that are not global.
void TestMessageDialog::topFrameSignals()
{
    Counter parent;
    parent.resize(300, 100);
    parent.move(50, 60);
    auto* frame = new TopCustomFrame(&parent);
    frame->setGeometry(10, 10, 200, 40);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QSignalSpy clicks(frame, &TopCustomFrame::customClick);
    QSignalSpy moves(frame, &TopCustomFrame::customMove);
    QSignalSpy doubles(frame, &TopCustomFrame::customDoubleClick);

    const QPoint local(20, 15);
    QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, local);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(clicks.at(0).at(0).toPoint(), frame->mapToGlobal(local));

    QMouseEvent move(QEvent::MouseMove, QPointF(40, 18),
                     QPointF(frame->mapToGlobal(QPoint(40, 18))), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(frame, &move);
    QCOMPARE(moves.count(), 1);
    QCOMPARE(moves.at(0).at(0).toPoint(), frame->mapToGlobal(QPoint(40, 18)));
    QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, QPoint(40, 18));

    QTest::mouseDClick(frame, Qt::LeftButton, Qt::NoModifier, local);
    QCOMPARE(doubles.count(), 1);

    QCOMPARE(parent.presses, 0);
    QCOMPARE(parent.moves, 0);
    QCOMPARE(parent.doubleClicks, 0);
}

QTEST_MAIN(TestMessageDialog)
#include "tst_messagedialog.moc"
