#include "settings/dialog/controls.h"

#include "settings/dialog/path_text.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QRadioButton>
#include <QResizeEvent>
#include <QUrl>

#include <algorithm>

namespace tarnwick {

TReadableIndicatorStyle::TReadableIndicatorStyle()
    : QProxyStyle(QApplication::style() ? QApplication::style()->name() : QString()) {}

void TReadableIndicatorStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                            QPainter* painter, const QWidget* widget) const {
    const bool indicator = element == PE_IndicatorRadioButton || element == PE_IndicatorCheckBox;
    const QColor window = option ? option->palette.color(QPalette::Window) : QColor();
    if (!indicator || window.lightness() >= 128) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // Styles draw the ring from the window colour: halfway to the text makes it show.
    const QColor text = option->palette.color(QPalette::WindowText);
    const QColor mid((window.red() + text.red()) / 2, (window.green() + text.green()) / 2,
                     (window.blue() + text.blue()) / 2);
    // Copied as its own type: QStyleOption has no virtual destructor.
    if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
        QStyleOptionButton copy(*button);
        copy.palette.setColor(QPalette::Window, mid);
        QProxyStyle::drawPrimitive(element, &copy, painter, widget);
        return;
    }
    QStyleOption copy(*option);
    copy.palette.setColor(QPalette::Window, mid);
    QProxyStyle::drawPrimitive(element, &copy, painter, widget);
}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        buttons_.push_back(b);
    }
}

int TRadioGroup::itemIndex() const {
    return group_->checkedId();
}

void TRadioGroup::setItemIndex(int index) {
    if (index < -1) index = -1;
    if (index >= count()) index = count() - 1;
    if (index >= 0) {
        buttons_[static_cast<size_t>(index)]->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked; let go of it for a moment to clear it.
    group_->setExclusive(false);
    for (QRadioButton* b : buttons_) b->setChecked(false);
    group_->setExclusive(true);
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    // The items share the room inside the frame evenly, as a radio group spreads them.
    const QRect inside = contentsRect().adjusted(8, 2, -8, -2);
    const int n = count();
    if (n == 0) return;
    const int step = inside.height() / n;
    for (int i = 0; i < n; ++i) {
        QRadioButton* b = buttons_[static_cast<size_t>(i)];
        const int h = std::min(b->sizeHint().height(), step);
        b->setGeometry(inside.left(), inside.top() + i * step + (step - h) / 2, inside.width(), h);
    }
}

void TButtonLineEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) {
        emit buttonKey();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

TButtonEdit::TButtonEdit(const QIcon& glyph, QWidget* parent)
    : TButtonEdit(new TButtonLineEdit, glyph, parent) {}

TButtonEdit::TButtonEdit(TButtonLineEdit* edit, const QIcon& glyph, QWidget* parent)
    : QWidget(parent), edit_(edit), button_(new QToolButton(this)) {
    edit_->setParent(this);
    button_->setIcon(glyph);
    button_->setFocusPolicy(Qt::NoFocus);
    connect(button_, &QToolButton::clicked, this, &TButtonEdit::buttonClick);
    connect(edit_, &TButtonLineEdit::buttonKey, this, &TButtonEdit::buttonClick);
    setFocusProxy(edit_);
}

void TButtonEdit::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int h = height();
    const int bw = h; // a square button
    edit_->setGeometry(0, 0, width() - bw, h);
    button_->setGeometry(width() - bw, 0, bw, h);
}

TFolderLineEdit::TFolderLineEdit(QWidget* parent) : TButtonLineEdit(parent) {
    setAcceptDrops(true);
}

void TFolderLineEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->ignore(); // the dialog's own keys
        return;
    }
    // A key that types a character (Backspace and Ctrl+V included) is dropped; keys that type
    // none (arrows, Home, End, Delete, Alt+Down) keep their usual work.
    if (key != Qt::Key_Delete && !event->text().isEmpty()) {
        event->accept();
        return;
    }
    TButtonLineEdit::keyPressEvent(event);
}

namespace {
bool hasLocalPaths(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls()) return false;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) return true;
    return false;
}
} // namespace

// Drops are turned off while the field's folder is searched: they would change the field
// without adding anything.
void TFolderLineEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptDrops() && hasLocalPaths(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFolderLineEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptDrops() && hasLocalPaths(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFolderLineEdit::dropEvent(QDropEvent* event) {
    QStringList paths;
    if (!acceptDrops()) {
        event->ignore();
        return;
    }
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << pathToText(urlToPath(url));
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit pathsDropped(paths);
}

TDirectoryEdit::TDirectoryEdit(const QIcon& glyph, QWidget* parent)
    : TButtonEdit(new TFolderLineEdit, glyph, parent) {}

} // namespace tarnwick
