#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// What was done about an alarm, recorded with its acknowledgement beside the free-text comment:
// the cause (one of the project's list), the action taken, what became of the product affected
// and how much of it, and who decided. All empty for an acknowledgement without one (those of
// earlier versions, or made through a caller that asks for none).
struct CorrectiveAction
{
    QString cause;
    QString actionTaken;
    QString productAffected; // one of productChoices(), or empty
    QString quantity;        // "12 boxes"; required when the product was held back or thrown away
    QString decidedBy;

    // The longest text a field keeps: a record, not a document.
    static constexpr int MaxFieldLength = 500;

    static QString productNone() { return QStringLiteral("none"); }
    static QString productReleased() { return QStringLiteral("checked and released"); }
    static QString productQuarantined() { return QStringLiteral("quarantined"); }
    static QString productDiscarded() { return QStringLiteral("discarded"); }
    // In the order a form offers them.
    static QStringList productChoices();
    // Quarantined or discarded product must say how much.
    static bool needsQuantity(const QString& productAffected);

    bool isEmpty() const;
    // Empty when the action is complete and sound, else the first thing missing or wrong, as a
    // sentence for the user: no product affected, a product not among the choices, no quantity
    // where one is needed, a field too long or holding control characters.
    QString problem() const;

    bool operator==(const CorrectiveAction& other) const;
    bool operator!=(const CorrectiveAction& other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(CorrectiveAction)
