#pragma once

#include <QLabel>

// The status bar's word on the notification outbox: hidden while messages go out, and while
// any has failed its count and the server's last answer (the whole answer in the tool tip), and
// the recipients the mail server refused, red as a failing database write.
class OutboxIndicator : public QLabel
{
    Q_OBJECT

public:
    explicit OutboxIndicator(QWidget* parent = nullptr);

    void setState(int failing, const QString& lastError,
                  const QStringList& refused = QStringList());
    // A word on the e-mail password (not available, sent unencrypted), shown with or without
    // failed messages.
    void setNote(const QString& note);
    // "Notifications: 2 not sent (Connection refused)", "Notifications: 1 recipient refused:
    // gone@example.com", or both; empty with none failing and none refused.
    static QString stateText(int failing, const QString& lastError,
                             const QStringList& refused = QStringList());

private:
    void showAll();

    int m_failing = 0;
    QString m_lastError;
    QStringList m_refused;
    QString m_note;
};
