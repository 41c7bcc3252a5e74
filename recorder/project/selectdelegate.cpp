#include "selectdelegate.h"

#include "gatewaymodel.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

namespace {

constexpr int ModelColumn = 1;
constexpr int StartColumn = 2;
constexpr int IdColumn = 3;
constexpr int MaxStartAddress = 106;

} // namespace

SelectDelegate::SelectDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QWidget* SelectDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    switch (index.column()) {
    case ModelColumn: {
        auto* combo = new QComboBox(parent);
        combo->setFrame(false);
        combo->addItems(GatewayModel::names());
        connect(combo, QOverload<int>::of(&QComboBox::activated), this,
                &SelectDelegate::commitAndCloseEditor);
        return combo;
    }
    case StartColumn: {
        auto* spin = new QSpinBox(parent);
        spin->setFrame(false);
        spin->setRange(0, MaxStartAddress);
        return spin;
    }
    case IdColumn: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText); // an identifier from the project file, as it is
        return label;
    }
    default:
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
}

void SelectDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    const QVariant value = index.model()->data(index, Qt::EditRole);
    switch (index.column()) {
    case ModelColumn:
        static_cast<QComboBox*>(editor)->setCurrentText(value.toString());
        break;
    case StartColumn:
        static_cast<QSpinBox*>(editor)->setValue(value.toInt());
        break;
    case IdColumn:
        static_cast<QLabel*>(editor)->setText(value.toString());
        break;
    default:
        QStyledItemDelegate::setEditorData(editor, index);
    }
}

void SelectDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                  const QModelIndex& index) const
{
    switch (index.column()) {
    case ModelColumn:
        model->setData(index, static_cast<QComboBox*>(editor)->currentText(), Qt::EditRole);
        break;
    case StartColumn: {
        auto* spin = static_cast<QSpinBox*>(editor);
        spin->interpretText();
        model->setData(index, spin->value(), Qt::EditRole);
        break;
    }
    case IdColumn:
        model->setData(index, static_cast<QLabel*>(editor)->text(), Qt::EditRole);
        break;
    default:
        QStyledItemDelegate::setModelData(editor, model, index);
    }
}

void SelectDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                          const QModelIndex&) const
{
    editor->setGeometry(option.rect);
}

void SelectDelegate::commitAndCloseEditor()
{
    auto* editor = qobject_cast<QWidget*>(sender());
    if (!editor)
        return;
    emit commitData(editor);
    emit closeEditor(editor);
}
