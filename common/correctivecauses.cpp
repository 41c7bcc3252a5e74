#include "correctivecauses.h"

#include "projectkeyreader.h"

#include <QDebug>

namespace {

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

void note(QStringList* problems, const QString& problem)
{
    qWarning().noquote() << "Project file key" << CorrectiveCauses::key() << ":" << problem;
    if (problems)
        problems->append(problem);
}

bool containsCause(const QStringList& causes, const QString& cause)
{
    return causes.contains(cause, Qt::CaseInsensitive);
}

} // namespace

QStringList CorrectiveCauses::defaults()
{
    return {QStringLiteral("door left open"),       QStringLiteral("defrost"),
            QStringLiteral("power failure"),        QStringLiteral("equipment failure"),
            QStringLiteral("loading or unloading"), QStringLiteral("sensor fault"),
            other()};
}

QStringList CorrectiveCauses::parse(const QString& value, QStringList* problems)
{
    QStringList causes = defaults();
    causes.removeLast(); // "other" goes back at the end
    if (value.size() > MaxValueLength) {
        note(problems, QStringLiteral("the list is longer than %1 characters and is not read")
                           .arg(MaxValueLength));
        causes.append(other());
        return causes;
    }
    int added = 0;
    const QStringList items = value.split(QLatin1Char(';'));
    for (int i = 0; i < items.size(); ++i) {
        const QString cause = items.at(i).trimmed();
        if (cause.isEmpty())
            continue;
        if (hasControlCharacter(cause)) {
            note(problems, QStringLiteral("cause %1 holds a control character").arg(i + 1));
            continue;
        }
        if (cause.size() > MaxCauseLength) {
            note(problems, QStringLiteral("cause %1 is longer than %2 characters")
                               .arg(i + 1)
                               .arg(MaxCauseLength));
            continue;
        }
        if (containsCause(causes, cause) || cause.compare(other(), Qt::CaseInsensitive) == 0)
            continue;
        if (added == MaxProjectCauses) {
            note(problems, QStringLiteral("more than %1 causes: the rest are not read")
                               .arg(MaxProjectCauses));
            break;
        }
        causes.append(cause);
        ++added;
    }
    causes.append(other());
    return causes;
}

QStringList CorrectiveCauses::fromProject(const QString& projectPath, QStringList* problems)
{
    const ProjectKeyReader reader(projectPath);
    if (!reader.contains(key()))
        return defaults();
    return parse(reader.text(key()), problems);
}
