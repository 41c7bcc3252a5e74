#include "projectkeynotice.h"

#include "elidedlabel.h"
#include "messagedialog.h"
#include "recorderstatusbar.h"

#include <QBoxLayout>
#include <QLabel>
#include <QTextDocument>
#include <QTimer>

ProjectKeyNotice::ProjectKeyNotice(QWidget* window_, QBoxLayout* statusLayout, int position)
    : QObject(window_), window(window_), m_label(new ElidedLabel)
{
    m_label->setObjectName(QStringLiteral("label_project_keys"));
    m_label->setTextFormat(Qt::PlainText);
    // The colour of the other warnings.
    m_label->setStyleSheet(QStringLiteral("color: #e67e22;"));
    statusLayout->insertWidget(position, m_label);
    m_label->hide();
    // Gives way to the alarms' indicator on a small screen, elided in the middle so that its
    // "(+N)" stays in sight; the whole list is in the tool tip.
    m_label->setMinimumWidth(RecorderStatusBar::ShrunkWidth);
    // The sources of a project report one after the other as it opens: one message for all.
    tellLater = new QTimer(this);
    tellLater->setSingleShot(true);
    tellLater->setInterval(0);
    connect(tellLater, &QTimer::timeout, this, &ProjectKeyNotice::tell);
}

void ProjectKeyNotice::setProblems(Source source, const QStringList& problems)
{
    QStringList& list = bySource[size_t(source)];
    if (list == problems)
        return;
    list = problems;
    show();
}

void ProjectKeyNotice::clear()
{
    for (QStringList& list : bySource)
        list.clear();
    told.clear();
    show();
}

QStringList ProjectKeyNotice::problems() const
{
    QStringList all;
    for (const QStringList& list : bySource) {
        for (const QString& problem : list) {
            if (!all.contains(problem))
                all << problem;
        }
    }
    return all;
}

void ProjectKeyNotice::show()
{
    const QStringList all = problems();
    // The first in the room of the status bar; all of them in the tool tip.
    QString text = all.value(0);
    if (all.size() > 1)
        text += QStringLiteral(" (+%1)").arg(all.size() - 1);
    m_label->setText(text);
    m_label->setToolTip(text.isEmpty() ? QString()
                                       : Qt::convertFromPlainText(all.join(QLatin1Char('\n')),
                                                                  Qt::WhiteSpaceNormal));
    m_label->setVisible(!text.isEmpty());
    if (!all.isEmpty())
        tellLater->start();
}

void ProjectKeyNotice::tell()
{
    QStringList fresh;
    for (const QString& problem : problems()) {
        if (!told.contains(problem))
            fresh << problem;
    }
    if (fresh.isEmpty())
        return;
    told << fresh;
    showMessage(window, QStringLiteral("WARNING"),
                fresh.join(QLatin1Char('\n')) +
                    QStringLiteral("\nThe default is used instead. Correct the project file."));
}
