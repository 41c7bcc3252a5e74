#pragma once

#include "messagedialog.h"

#include <QGroupBox>
#include <QStringList>
#include <QTextBrowser>
#include <QWidget>

// The messages a screen has shown so far, as "TITLE|text", oldest first; closes and deletes them
// when asked, so that the next check starts empty.
inline QStringList shownMessages(QWidget* screen, bool clear = true)
{
    QStringList texts;
    const auto dialogs = screen->findChildren<MessageDialog*>();
    for (MessageDialog* dialog : dialogs) {
        texts << dialog->findChild<QGroupBox*>(QStringLiteral("groupBox_message"))->title() +
                     QLatin1Char('|') +
                     dialog->findChild<QTextBrowser*>(QStringLiteral("textBrowser"))
                         ->toPlainText();
        if (clear)
            delete dialog;
    }
    return texts;
}
