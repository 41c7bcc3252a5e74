#pragma once

#include <QDate>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One scheduled report of a project: its period, when it was due, what became of it. A period
// has one row (kind and first day); a later state of the same period replaces the earlier one.
struct ReportRunRecord
{
    // Bounds a row from outside must keep.
    static constexpr int MaxErrorLength = 2000;

    QString kind; // "daily", "weekly", "monthly"
    QDate first;  // the period's first and last local day
    QDate last;
    qint64 dueMs = 0;  // when it was due, ms since 1970 UTC
    qint64 madeMs = 0; // when the attempt ended (made, failed), ms since 1970 UTC
    QString state;     // stateMade(), stateSent(), stateFailed(), stateTooLarge()
    bool late = false; // made after the recorder was off at its due time
    int attempts = 0;  // attempts that failed so far
    QString error;

    static QString stateMade() { return QStringLiteral("made"); }
    static QString stateSent() { return QStringLiteral("sent"); }
    static QString stateFailed() { return QStringLiteral("failed"); }
    static QString stateTooLarge() { return QStringLiteral("too large"); }

    // "daily.2026-03-28": the period, the same whatever its state.
    QString key() const;
    // Empty when the row keeps the bounds, otherwise why not.
    QString problem() const;
};

Q_DECLARE_METATYPE(ReportRunRecord)
