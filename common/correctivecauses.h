#pragma once

#include <QString>
#include <QStringList>

// The causes an acknowledgement offers for an alarm: a default list that a project extends with
// its own, from the project file key `CorrectiveCauses` (items separated by ';'). The file may be
// edited by hand and is read as hostile: an item holding a control character, or longer than
// MaxCauseLength, is refused; items after the first MaxProjectCauses, and a value longer than
// MaxValueLength, are not read; repeats (of a default too, in any case) count once. Every
// refusal is named in `problems`. "other" always comes last, whatever the file says.
class CorrectiveCauses
{
public:
    static QString key() { return QStringLiteral("CorrectiveCauses"); }
    static QString other() { return QStringLiteral("other"); }
    static constexpr int MaxProjectCauses = 30;
    static constexpr int MaxCauseLength = 80;
    static constexpr int MaxValueLength = 4000;

    // The defaults, "other" last.
    static QStringList defaults();
    // The defaults with the value's causes before "other".
    static QStringList parse(const QString& value, QStringList* problems = nullptr);
    // The list for the project file at `projectPath`; the defaults without the key.
    static QStringList fromProject(const QString& projectPath, QStringList* problems = nullptr);
};
