#pragma once

#include <QHash>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>

class QListWidgetItem;

namespace Ui {
class ProjectMain;
}

// Start screen shown while no project is open: creates a project file, opens one through a file
// dialog or reopens a recent one, and reports the chosen path to the main window.
class ProjectMain : public QWidget
{
    Q_OBJECT

public:
    // Asks the user for a file name: (parent, caption, starting folder, filter) -> path or empty.
    using FileDialog =
        std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;

    ProjectMain(const QStringList& recentList, const QVariantMap& recentMap,
                QWidget* parent = nullptr);
    ~ProjectMain() override;

    // Replaces this screen's save and open dialogs, so that tests can choose files without a
    // modal dialog; an empty function restores the toolkit's dialog.
    void setFileDialogs(const FileDialog& saveDialog, const FileDialog& openDialog);

    // Longest file name, suffix included, that a project may have.
    static constexpr int MaxFileNameLength = 20;

signals:
    void projectCreated(QString);
    void projectLoaded(QString);

public slots:
    void slotCreateProject();
    void slotOpenProject();
    void slotRecentProject(QListWidgetItem* item);

private:
    bool checkFileName(const QString& path);

    std::unique_ptr<Ui::ProjectMain> ui;
    QHash<QListWidgetItem*, QVariant> itemMap;
    FileDialog saveDialog;
    FileDialog openDialog;
};
