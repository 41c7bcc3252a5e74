#include "aboutbox.h"

#include <QPixmap>

AboutBox::AboutBox(const QString& version, QWidget* parent)
    : QMessageBox(QMessageBox::Information, QStringLiteral("About"), QString(), QMessageBox::Ok,
                  parent)
{
    setObjectName(QStringLiteral("aboutBox"));
    setAttribute(Qt::WA_DeleteOnClose);
    setTextFormat(Qt::RichText);
    setText(QStringLiteral("<b>Quillmar Lite Modbus</b> ") + version +
            QStringLiteral("<br>Recorder of wireless sensor data through Modbus TCP "
                           "gateways.<br><a href=\"https://quillmar.example/download\">"
                           "Download</a>"));
    setIconPixmap(QPixmap(QStringLiteral(":/img/QuorbinalSymbol.png")));
    setModal(false);
}
