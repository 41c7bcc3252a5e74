#include "messagedialog.h"
#include "ui_messagedialog.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <QVariant>

namespace {

// The look belongs to the program: it is kept on the application object, which each program
// has exactly once, and the recorder's look is the default.
const char* const TitleProperty = "quillmarMessageTitle";
const char* const LogoProperty = "quillmarMessageLogo";

QString lookValue(const char* property, const QString& fallback)
{
    const QCoreApplication* app = QCoreApplication::instance();
    const QVariant value = app ? app->property(property) : QVariant();
    return value.isValid() ? value.toString() : fallback;
}

constexpr int kAutoCloseMs = 5000;

} // namespace

MessageDialog::MessageDialog(const QString& caption, const QString& text, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::MessageDialog>())
{
    ui->setupUi(this);
    setWindowTitle(programTitle());
    setWindowIcon(QIcon(QStringLiteral(":/img/I_2.png")));
    ui->label_logo->setPixmap(QPixmap(programLogo()));
    ui->groupBox_message->setTitle(caption);
    // Messages are plain text: a path or a name must never be taken for markup.
    ui->textBrowser->setPlainText(text);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QWidget::close);
}

MessageDialog::~MessageDialog() = default;

void MessageDialog::setProgramLook(const QString& windowTitle, const QString& logoPath)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    app->setProperty(TitleProperty, windowTitle);
    app->setProperty(LogoProperty, logoPath);
}

QString MessageDialog::programTitle()
{
    return lookValue(TitleProperty, QStringLiteral("Quillmar Lite Modbus"));
}

QString MessageDialog::programLogo()
{
    return lookValue(LogoProperty, QStringLiteral(":/img/QuillmarLogoModbus.png"));
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
