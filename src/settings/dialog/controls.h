#pragma once
// The dialog's compound controls: a radio group with an item index, a text field with a
// button, and the folder field that takes no typing but takes drops.
#include <QGroupBox>
#include <QLineEdit>
#include <QProxyStyle>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QWidget>

#include <vector>

class QButtonGroup;
class QRadioButton;

namespace tarnwick {

// The application's style, with radio buttons and check boxes drawn so that they stand out from
// a dark window: Fusion (Qt's style under GTK's dark themes) rings them in a shade darker than
// the window, which all but hides an unchecked one there.
class TReadableIndicatorStyle : public QProxyStyle {
    Q_OBJECT
public:
    TReadableIndicatorStyle();
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// A captioned group of radio buttons, one below the other; ItemIndex -1 means none chosen.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);
    int itemIndex() const;
    // Below -1 becomes -1 (none chosen), beyond the last item becomes the last item.
    void setItemIndex(int index);
    int count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* button(int index) const { return buttons_.at(static_cast<size_t>(index)); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QButtonGroup* group_;
    std::vector<QRadioButton*> buttons_;
};

// The text part of a field with a button: Alt+Down presses the button.
class TButtonLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
signals:
    void buttonKey();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A text field with a button at its right end.
class TButtonEdit : public QWidget {
    Q_OBJECT
public:
    TButtonEdit(const QIcon& glyph, QWidget* parent = nullptr);
    QString text() const { return edit_->text(); }
    void setText(const QString& text) { edit_->setText(text); }
    TButtonLineEdit* edit() const { return edit_; }
    QToolButton* button() const { return button_; }

signals:
    void buttonClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    TButtonEdit(TButtonLineEdit* edit, const QIcon& glyph, QWidget* parent);

private:
    TButtonLineEdit* edit_;
    QToolButton* button_;
};

// The folder field's text part: every typed character is discarded (the Delete key, which
// types none, still edits), and a dropped file or folder replaces the text.
class TFolderLineEdit : public TButtonLineEdit {
    Q_OBJECT
public:
    explicit TFolderLineEdit(QWidget* parent = nullptr);
signals:
    // Several items may be dropped; their local paths in order.
    void pathsDropped(const QStringList& paths);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// Item views draw their entries at one fixed height.
class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    TFixedHeightDelegate(int height, QObject* parent)
        : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};

class TDirectoryEdit : public TButtonEdit {
    Q_OBJECT
public:
    explicit TDirectoryEdit(const QIcon& glyph, QWidget* parent = nullptr);
    TFolderLineEdit* folderEdit() const { return static_cast<TFolderLineEdit*>(edit()); }
};

} // namespace tarnwick
