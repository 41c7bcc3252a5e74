#include "outboxindicator.h"

#include <QTextDocument>
#include <QtTest>

namespace {

// The text a label or a tool tip of `format` shows for `text`: Qt takes text that looks like
// markup for rich text unless told otherwise.
QString shown(Qt::TextFormat format, const QString& text)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

} // namespace

// The status bar's word on a failing outbox quotes what a mail or webhook server answered.
class TestOutboxIndicator : public QObject
{
    Q_OBJECT

private slots:
    void serverAnswerShownAsSent_data();
    void serverAnswerShownAsSent();
};

void TestOutboxIndicator::serverAnswerShownAsSent_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("label");
    QTest::newRow("plain answer") << QStringLiteral("Connection refused")
                                  << QStringLiteral(
                                         "Notifications: 2 not sent (Connection refused)");
    QTest::newRow("HTTP status line with <b>")
        << QStringLiteral("HTTP/1.1 503 <b>Service Unavailable</b>")
        << QStringLiteral("Notifications: 2 not sent (HTTP/1.1 503 <b>Service U...)");
    QTest::newRow("link and entity")
        << QStringLiteral("<a href='http://x.example'>see</a> &lt;")
        << QStringLiteral("Notifications: 2 not sent (<a href='http://x.example...)");
    QTest::newRow("two lines") << QStringLiteral("550 <no such user>\n550 rejected")
                               << QStringLiteral(
                                      "Notifications: 2 not sent (550 <no such user> 550 re...)");
}

// Catches: rich text from a server (an HTTP status line with <b>, a link) rendered as markup in
// the tool tip or the status bar instead of shown as the server sent it.
void TestOutboxIndicator::serverAnswerShownAsSent()
{
    QFETCH(QString, answer);
    QFETCH(QString, label);
    OutboxIndicator indicator;
    indicator.setState(2, answer);
    QCOMPARE(shown(indicator.textFormat(), indicator.text()), label);
    // A tool tip is always shown as QLabel's automatic format.
    QCOMPARE(shown(Qt::AutoText, indicator.toolTip()), answer);
    indicator.setState(0, QString());
    QVERIFY(indicator.toolTip().isEmpty());
}

QTEST_MAIN(TestOutboxIndicator)
#include "tst_outboxindicator.moc"
