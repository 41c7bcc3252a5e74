#pragma once

#include <QStyledItemDelegate>

// Editors of the device tree: a model list for column 1, a bounded spin box for the start
// register in column 2, and a read-only identifier in column 3.
class SelectDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit SelectDelegate(QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

public slots:
    void commitAndCloseEditor();
};
