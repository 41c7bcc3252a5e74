#include "calibrationdialog.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* lineEdit(QWidget* parent, const char* name, int maxLength)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    return edit;
}

QDateEdit* dateEdit(QWidget* parent, const char* name, const QDate& date)
{
    auto* edit = new QDateEdit(date, parent);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setCalendarPopup(true);
    edit->setMinimumDate(QDate(1900, 1, 1));
    edit->setMaximumDate(QDate(2999, 12, 31));
    return edit;
}

// A number typed as the user's locale writes it, or in C form; empty is "not given".
std::optional<double> numberOf(const QLineEdit* edit, bool* ok)
{
    const QString text = edit->text().trimmed();
    *ok = true;
    if (text.isEmpty())
        return std::nullopt;
    double value = QLocale().toDouble(text, ok);
    if (!*ok)
        value = QLocale::c().toDouble(text, ok);
    return *ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

CalibrationDialog::CalibrationDialog(const QString& serial, int channel, const QString& title,
                                     const QString& unit, const QDate& today, QWidget* parent)
    : QDialog(parent), m_serial(serial), m_channel(channel)
{
    setObjectName(QStringLiteral("CalibrationDialog"));
    setWindowTitle(QStringLiteral("Calibration"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);
    // Its own colours: the node dialog's style would paint every label as a panel of its own.
    setStyleSheet(QStringLiteral(
        "QDialog { background-color: rgb(55, 55, 55); } QLabel { background: transparent; color: "
        "rgb(200, 200, 200); } QLineEdit, QDateEdit { background-color: rgb(250, 250, 250); "
        "color: black; } QPushButton { background-color: rgb(20, 20, 20); color: rgb(220, 220, "
        "220); padding: 4px 12px; }"));

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("label_channel"));
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* form = new QFormLayout;
    m_certificate = lineEdit(this, "lineEdit_certificate", CalibrationRecord::MaxCertificate);
    m_laboratory = lineEdit(this, "lineEdit_laboratory", CalibrationRecord::MaxText);
    m_calibrated = dateEdit(this, "dateEdit_calibrated", today);
    m_due = dateEdit(this, "dateEdit_due", today.addYears(1));
    m_reference = lineEdit(this, "lineEdit_reference", CalibrationRecord::MaxText);
    m_asFound = lineEdit(this, "lineEdit_asFound", 32);
    m_asLeft = lineEdit(this, "lineEdit_asLeft", 32);
    m_uncertainty = lineEdit(this, "lineEdit_uncertainty", 32);
    const QString unitText = unit.isEmpty() ? QString() : QStringLiteral(" (") + unit + ')';
    m_asFound->setPlaceholderText(QStringLiteral("not given"));
    m_asLeft->setPlaceholderText(QStringLiteral("not given"));
    form->addRow(QStringLiteral("Certificate number"), m_certificate);
    form->addRow(QStringLiteral("Laboratory"), m_laboratory);
    form->addRow(QStringLiteral("Calibrated on"), m_calibrated);
    form->addRow(QStringLiteral("Due on"), m_due);
    form->addRow(QStringLiteral("Reference instrument"), m_reference);
    form->addRow(QStringLiteral("Error as found") + unitText, m_asFound);
    form->addRow(QStringLiteral("Error as left") + unitText, m_asLeft);
    form->addRow(QStringLiteral("Uncertainty") + unitText, m_uncertainty);

    auto* fileRow = new QHBoxLayout;
    // Not cut by the field: a path too long is refused by the check.
    m_file = lineEdit(this, "lineEdit_certificateFile", 32767);
    m_file->setReadOnly(true);
    m_file->setPlaceholderText(QStringLiteral("none"));
    auto* choose = new QPushButton(QStringLiteral("Certificate file..."), this);
    choose->setObjectName(QStringLiteral("pushButton_certificateFile"));
    choose->setAutoDefault(false);
    fileRow->addWidget(m_file, 1);
    fileRow->addWidget(choose);
    form->addRow(QStringLiteral("Certificate file"), fileRow);
    layout->addLayout(form);

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("label_problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: rgb(230, 80, 80);"));
    m_problem->hide();
    layout->addWidget(m_problem);

    auto* buttons = new QDialogButtonBox(this);
    m_record = buttons->addButton(QStringLiteral("Record"), QDialogButtonBox::AcceptRole);
    m_record->setObjectName(QStringLiteral("pushButton_record"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("pushButton_cancel"));
    layout->addWidget(buttons);

    connect(choose, &QPushButton::clicked, this, &CalibrationDialog::chooseCertificateFile);
    connect(m_record, &QPushButton::clicked, this, &CalibrationDialog::record);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CalibrationRecord CalibrationDialog::entry(QString* problem) const
{
    CalibrationRecord row;
    row.serial = m_serial;
    row.column = CalibrationRecord::columnOf(m_channel);
    row.certificate = m_certificate->text().trimmed();
    row.laboratory = m_laboratory->text().trimmed();
    row.calibrated = m_calibrated->date();
    row.due = m_due->date();
    row.reference = m_reference->text().trimmed();
    row.certificateFile = m_file->text();
    bool foundOk = true;
    bool leftOk = true;
    bool uncertaintyOk = true;
    row.asFound = numberOf(m_asFound, &foundOk);
    row.asLeft = numberOf(m_asLeft, &leftOk);
    const std::optional<double> uncertainty = numberOf(m_uncertainty, &uncertaintyOk);
    row.uncertainty = uncertainty.value_or(0.0);
    if (!problem)
        return row;
    if (!foundOk || !leftOk)
        *problem = QStringLiteral("An error found or left is not a number.");
    else if (!uncertaintyOk || !uncertainty)
        *problem = QStringLiteral("The uncertainty is not a number.");
    else {
        // Who and when are the register's to give.
        CalibrationRecord checked = row;
        checked.enteredBy = QStringLiteral("-");
        *problem = checked.problem();
    }
    return row;
}

QString CalibrationDialog::problemText() const
{
    return !m_problem->isHidden() ? m_problem->text() : QString();
}

void CalibrationDialog::record()
{
    QString problem;
    const CalibrationRecord row = entry(&problem);
    if (!problem.isEmpty() || !m_enter) {
        finished(false, problem.isEmpty() ? QStringLiteral("The register is not open.") : problem);
        return;
    }
    m_record->setEnabled(false);
    QPointer<CalibrationDialog> self(this);
    m_enter(row, [self, row](bool taken, const QString& refused) {
        if (!self)
            return;
        self->finished(taken, refused);
        if (taken) {
            emit self->recorded(row);
            self->accept();
        }
    });
}

void CalibrationDialog::finished(bool taken, const QString& problem)
{
    m_record->setEnabled(!taken);
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
}

void CalibrationDialog::chooseCertificateFile()
{
    // Only the path is kept: the file is not opened, here or later.
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Certificate file"), m_file->text(),
        QStringLiteral("Certificates (*.pdf *.png *.jpg *.jpeg *.tif *.tiff);;All files (*)"));
    if (!path.isEmpty())
        m_file->setText(path);
}
