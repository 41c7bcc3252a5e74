#include "projectmain.h"
#include "ui_projectmain.h"

#include "messagedialog.h"
#include "windowchrome.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidgetItem>
#include <QStandardPaths>

namespace {

constexpr int MaxFolderLength = 70;

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace

ProjectMain::ProjectMain(const QStringList& recentList, const QVariantMap& recentMap,
                         QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ProjectMain>())
{
    ui->setupUi(this);
    connect(ui->btn_create, &QAbstractButton::clicked, this, &ProjectMain::slotCreateProject);
    connect(ui->btn_open, &QAbstractButton::clicked, this, &ProjectMain::slotOpenProject);
    connect(ui->listWidget, &QListWidget::itemActivated, this, &ProjectMain::slotRecentProject);

    for (const QString& name : recentList) {
        const QString path = recentMap.value(name).toString();
        const QFileInfo info(path);
        const QString folder = WindowChrome::shortFolder(info.path(), MaxFolderLength);
        auto* item = new QListWidgetItem(name + QStringLiteral("\t[") + folder + QLatin1Char('/') +
                                         info.completeBaseName() + QStringLiteral(".tpc]"));
        item->setToolTip(path);
        ui->listWidget->addItem(item);
        itemMap.insert(item, QVariant(path));
    }
}

ProjectMain::~ProjectMain() = default;

void ProjectMain::setFileDialogs(const FileDialog& save, const FileDialog& open)
{
    saveDialog = save;
    openDialog = open;
}

bool ProjectMain::checkFileName(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    if (fileName.size() <= MaxFileNameLength)
        return true;
    showMessage(this, QStringLiteral("ERROR"),
                QLatin1Char('"') + fileName +
                    QStringLiteral("\" is too long.\nPlease retry.\nMax Length is 20 charactors."));
    return false;
}

void ProjectMain::slotCreateProject()
{
    const QString caption = QStringLiteral("Create Project");
    const QString filter = QStringLiteral("*.tpc");
    QString path = saveDialog
                       ? saveDialog(this, caption, documentsFolder(), filter)
                       : QFileDialog::getSaveFileName(this, caption, documentsFolder(), filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".tpc");
    if (!checkFileName(path))
        return;

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("Unable to open the project file."));
        return;
    }
    file.close();
    emit projectCreated(path);
}

void ProjectMain::slotOpenProject()
{
    const QString caption = QStringLiteral("Open Project");
    const QString filter = QStringLiteral("*.tpc");
    const QString path =
        openDialog ? openDialog(this, caption, documentsFolder(), filter)
                   : QFileDialog::getOpenFileName(this, caption, documentsFolder(), filter);
    if (path.isEmpty())
        return;
    if (!checkFileName(path))
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("Unable to open the project file."));
        return;
    }
    file.close();
    emit projectLoaded(path);
}

void ProjectMain::slotRecentProject(QListWidgetItem* item)
{
    emit projectLoaded(itemMap.value(item).toString());
}
