#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>
#include <QtGlobal>

// One target's answer to one alarm test, as the alarm-test log keeps it. A test sends a message
// marked as a test through every notification and forwarding target and records each answer;
// it is never an alarm event.
struct AlarmTestRecord
{
    // Bounds of what a row may hold: a longer text (a server's answer) is cut to it by the
    // caller, a row beyond it is refused and, read back, left out.
    static constexpr int MaxText = 2000;
    static constexpr int MaxNodes = 4000;

    static QString acceptedAnswer() { return QStringLiteral("accepted"); }
    static QString refusedAnswer() { return QStringLiteral("refused"); }
    static QString noAnswer() { return QStringLiteral("no answer"); }

    qint64 testId = 0;      // the same for every target of one test
    qint64 time = 0;        // when the test was run, seconds since 1970 UTC
    QString user;           // who ran it: the signer, or the desk's account without access control
    QString nodes;          // the serials tested, ", "-separated
    QString target;         // "email", "webhook", "mqtt", "influx"
    QString answer;         // one of the three answers above
    QString text;           // the server's words, or why there was none
    qint64 signatureId = 0; // 0: unsigned

    // Why the row cannot be kept ("" when it can): an empty user or target, an answer not one of
    // the three, a text beyond its bound, a test id or time not positive.
    QString problem() const;
};
Q_DECLARE_METATYPE(AlarmTestRecord)
