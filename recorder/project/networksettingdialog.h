#pragma once

#include <QDialog>

#include <memory>

class NodeDevice;

namespace Ui {
class NetworkSettingDialog;
}

// Shows the address and port of the gateway behind one node; edits nothing.
class NetworkSettingDialog : public QDialog
{
    Q_OBJECT

public:
    NetworkSettingDialog(NodeDevice* node, QWidget* parent = nullptr);
    ~NetworkSettingDialog() override;

public slots:
    // Rejects the dialog and deletes it once control is back in the event loop.
    void close();

private:
    std::unique_ptr<Ui::NetworkSettingDialog> ui;
    NodeDevice* m_node = nullptr;
};
