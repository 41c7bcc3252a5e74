#include "editedsettingsdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

EditedSettingsDialog::EditedSettingsDialog(const QStringList& lines, const QString& asideName,
                                           const QString& problem, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title());
    auto* layout = new QVBoxLayout(this);

    // The names and texts come from a file anyone could edit: shown as plain text only.
    m_state = new QLabel(this);
    m_state->setTextFormat(Qt::PlainText);
    m_state->setWordWrap(true);
    if (!asideName.isEmpty())
        m_state->setText(QStringLiteral("The project file was edited outside the recorder. The "
                                        "recorder runs on the settings last accepted; the edited "
                                        "file is kept as ") +
                         asideName + QStringLiteral(" until a Supervisor accepts or rejects it."));
    else
        m_state->setText(QStringLiteral("The project file was edited outside the recorder and "
                                        "the settings last accepted could not be put back (") +
                         problem +
                         QStringLiteral("). The recorder runs on the file as found until a "
                                        "Supervisor accepts or rejects it."));
    layout->addWidget(m_state);

    auto* heading = new QLabel(QStringLiteral("Differences from the accepted settings:"), this);
    layout->addWidget(heading);
    m_list = new QListWidget(this);
    m_list->setWordWrap(true);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    for (const QString& line : lines)
        m_list->addItem(line);
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_accept = buttons->addButton(QStringLiteral("Accept"), QDialogButtonBox::AcceptRole);
    m_reject = buttons->addButton(QStringLiteral("Reject"), QDialogButtonBox::DestructiveRole);
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    m_accept->setAutoDefault(false);
    m_reject->setAutoDefault(false);
    close->setDefault(true);
    connect(m_accept, &QPushButton::clicked, this, [this] { decide(Decision::Accept); });
    connect(m_reject, &QPushButton::clicked, this, [this] { decide(Decision::Reject); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(640, 360);
}

void EditedSettingsDialog::decide(Decision decision)
{
    m_decision = decision;
    accept();
}
