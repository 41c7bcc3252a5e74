#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class SuppressionDialog;
}

// Asks how long and why: for a shelve the duration (15 minutes to 24 hours), for a node out of
// service the local date and time it is back; and the reason, without which it cannot be
// confirmed. Shown without blocking; it deletes itself when confirmed or cancelled.
class SuppressionDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Mode
    {
        Shelve,
        OutOfService
    };

    // `what` names the node and channel; `now` is where the out-of-service time starts from.
    SuppressionDialog(Mode mode, const QString& what, const QDateTime& now,
                      QWidget* parent = nullptr);
    ~SuppressionDialog() override;

    // The durations offered, in seconds.
    static QList<int> offeredSeconds();

    int seconds() const;
    QDateTime until() const;
    QString reason() const;

signals:
    // The shelve's length (OutOfService: 0), the end of the time (Shelve: from now), the reason.
    void confirmed(int seconds, const QDateTime& until, const QString& reason);

private:
    void updateButtons();

    std::unique_ptr<Ui::SuppressionDialog> ui;
    Mode m_mode;
    QDateTime m_now;
};
