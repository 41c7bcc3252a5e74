#include "messagedialog.h"
#include "ui_messagedialog.h"

#include <QIcon>
#include <QPixmap>
#include <QTimer>

namespace {

// The recorder is the default; the report generator switches at start.
QString& lookTitle()
{
    static QString title = QStringLiteral("Quillmar Lite Modbus");
    return title;
}

QString& lookLogo()
{
    static QString logo = QStringLiteral(":/img/QuillmarLogoModbus.png");
    return logo;
}

constexpr int kAutoCloseMs = 5000;

} // namespace

MessageDialog::MessageDialog(const QString& caption, const QString& text, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::MessageDialog>())
{
    ui->setupUi(this);
    setWindowTitle(lookTitle());
    setWindowIcon(QIcon(QStringLiteral(":/img/I_2.png")));
    ui->label_logo->setPixmap(QPixmap(lookLogo()));
    ui->groupBox_message->setTitle(caption);
    // Messages are plain text: a path or a name must never be taken for markup.
    ui->textBrowser->setPlainText(text);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QWidget::close);
}

MessageDialog::~MessageDialog() = default;

void MessageDialog::setProgramLook(const QString& windowTitle, const QString& logoPath)
{
    lookTitle() = windowTitle;
    lookLogo() = logoPath;
}

QString MessageDialog::programTitle()
{
    return lookTitle();
}

QString MessageDialog::programLogo()
{
    return lookLogo();
}

MessageDialog* showMessage(QWidget* parent, const QString& title, const QString& text)
{
    auto* dialog = new MessageDialog(title, text, parent);
    if (!parent)
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    // A child timer goes with its dialog, so a dialog deleted early is never closed again.
    auto* timer = new QTimer(dialog);
    timer->setObjectName(QStringLiteral("autoCloseTimer"));
    timer->setSingleShot(true);
    timer->setInterval(kAutoCloseMs);
    timer->setTimerType(Qt::PreciseTimer); // a coarse timer may close up to 5 % early
    QObject::connect(timer, &QTimer::timeout, dialog, &QWidget::close);
    timer->start();
    return dialog;
}
