#pragma once

#include <QObject>
#include <QStringList>

#include <array>

class QBoxLayout;
class QLabel;
class QTimer;
class QWidget;

// What the recorder's window says of project-file keys that could not be read (they read as
// their defaults, so the project runs otherwise than the file says): a note in the status bar
// that stays while the open project has any (the first, and how many more), the list in its tool
// tip, and a message, which does not wait for an answer, whenever a key is added to the list.
class ProjectKeyNotice : public QObject
{
    Q_OBJECT

public:
    // Who read the keys: the project on opening, the notifications and the forwarding at their
    // start and at each change of their settings.
    enum class Source
    {
        Project,
        Notifications,
        Forwarding
    };

    // The label goes into `statusLayout` at `position`; the message is a window of `window`'s.
    ProjectKeyNotice(QWidget* window, QBoxLayout* statusLayout, int position);

    void setProblems(Source source, const QStringList& problems);
    // No project any more.
    void clear();

    QLabel* label() const { return m_label; }
    // Every problem, in the order of the sources.
    QStringList problems() const;

private:
    void show();
    void tell();

    QWidget* window;
    QLabel* m_label;
    QTimer* tellLater;
    std::array<QStringList, 3> bySource;
    // Told in a message since the project opened (the status bar goes on showing them).
    QStringList told;
};
