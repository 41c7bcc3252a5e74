#include "correctiveaction.h"

namespace {

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

QStringList CorrectiveAction::productChoices()
{
    return {productNone(), productReleased(), productQuarantined(), productDiscarded()};
}

bool CorrectiveAction::needsQuantity(const QString& productAffected)
{
    return productAffected == productQuarantined() || productAffected == productDiscarded();
}

bool CorrectiveAction::isEmpty() const
{
    return cause.isEmpty() && actionTaken.isEmpty() && productAffected.isEmpty() &&
           quantity.isEmpty() && decidedBy.isEmpty();
}

QString CorrectiveAction::problem() const
{
    const struct
    {
        const QString& text;
        const char* name;
    } fields[] = {{cause, "cause"},
                  {actionTaken, "action taken"},
                  {quantity, "quantity"},
                  {decidedBy, "decided by"}};
    for (const auto& field : fields) {
        if (field.text.size() > MaxFieldLength)
            return QStringLiteral("The %1 is too long (at most %2 characters).")
                .arg(QLatin1String(field.name))
                .arg(MaxFieldLength);
        // The action taken may run over several lines; the short fields are one line each.
        if (&field.text != &actionTaken && hasControlCharacter(field.text))
            return QStringLiteral("The %1 holds a control character.")
                .arg(QLatin1String(field.name));
    }
    if (productAffected.isEmpty())
        return QStringLiteral("Choose what became of the product affected.");
    if (!productChoices().contains(productAffected))
        return QStringLiteral("The product affected is not one of the choices.");
    if (needsQuantity(productAffected) && quantity.trimmed().isEmpty())
        return QStringLiteral("Enter the quantity of product %1.").arg(productAffected);
    return QString();
}

bool CorrectiveAction::operator==(const CorrectiveAction& other) const
{
    return cause == other.cause && actionTaken == other.actionTaken &&
           productAffected == other.productAffected && quantity == other.quantity &&
           decidedBy == other.decidedBy;
}
