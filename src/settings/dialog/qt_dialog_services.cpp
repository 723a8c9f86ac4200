#include "imaging/bitmap.h"
#include "imaging/picture_loader.h"
#include "settings/dialog/dialog_services.h"
#include "settings/dialog/path_text.h"
#include "settings/dialog/tes.h"
#include "settings/folder_search.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <exception>

namespace tarnwick {

namespace {

// The picture beside the file list of the open dialog, scaled down to fit.
class PicturePreview : public QLabel {
public:
    explicit PicturePreview(QWidget* parent) : QLabel(parent) {
        setFixedSize(kSide, kSide);
        setAlignment(Qt::AlignCenter);
        setFrameShape(QFrame::StyledPanel);
    }

    void showFile(const QString& path) {
        clear();
        const std::string name = pathOnDisk(path);
        if (!isPictureName(name.substr(name.rfind('/') + 1))) return;
        try {
            const QImage image = toQImage(*LoadPicture(name));
            if (image.isNull()) return;
            setPixmap(
                QPixmap::fromImage(image.width() > kSide || image.height() > kSide
                                       ? image.scaled(kSide - 4, kSide - 4, Qt::KeepAspectRatio,
                                                      Qt::SmoothTransformation)
                                       : image));
        } catch (const std::exception&) {
            // A file that does not load shows no preview; choosing it is still allowed.
        }
    }

private:
    static constexpr int kSide = 200;
};

} // namespace

std::string errorText(const std::exception& error) {
    std::string text = error.what();
    try {
        std::rethrow_if_nested(error);
    } catch (const std::exception& cause) {
        text += '\n' + errorText(cause);
    } catch (...) {
    }
    return text;
}

std::vector<OpenFilter> parseOpenFilter(const std::string& filter) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t bar = filter.find('|', start);
        parts.push_back(
            filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::vector<OpenFilter> result;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        OpenFilter entry{parts[i], {}};
        const std::string& list = parts[i + 1];
        for (size_t p = 0;;) {
            const size_t semi = list.find(';', p);
            std::string pattern =
                list.substr(p, semi == std::string::npos ? std::string::npos : semi - p);
            if (!pattern.empty()) entry.patterns.push_back(std::move(pattern));
            if (semi == std::string::npos) break;
            p = semi + 1;
        }
        result.push_back(std::move(entry));
    }
    return result;
}

std::optional<std::vector<std::string>>
QtDialogServices::openPictures(const std::string& filter, const std::string& startDir) {
    QFileDialog dialog(parent_, "Open");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt shows each description as given but reads a filter's patterns from its parentheses,
    // split at spaces only: the file model gets each entry's own patterns instead.
    const std::vector<OpenFilter> entries = parseOpenFilter(filter);
    QStringList filters;
    QList<QStringList> patterns;
    for (const OpenFilter& entry : entries) {
        filters << QString::fromStdString(entry.description);
        QStringList list;
        for (const std::string& pattern : entry.patterns)
            list << (pattern == "*.*" ? QStringLiteral("*") // every file, with or without a dot
                                      : QString::fromStdString(pattern));
        patterns << list;
    }
    dialog.setNameFilters(filters);
    auto* model = dialog.findChild<QFileSystemModel*>();
    const auto usePatterns = [&dialog, model, filters, patterns] {
        const qsizetype index = filters.indexOf(dialog.selectedNameFilter());
        if (model != nullptr && index >= 0) model->setNameFilters(patterns[index]);
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, usePatterns);
    if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());
    usePatterns();
    if (!startDir.empty())
        dialog.setDirectory(QFile::decodeName(nearestTextFolder(startDir).c_str()));

    auto* preview = new PicturePreview(&dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1, Qt::AlignTop);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview,
                     [preview](const QString& path) { preview->showFile(path); });

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> files;
    for (const QString& f : dialog.selectedFiles()) files.push_back(pathOnDisk(f));
    return files;
}

std::optional<std::string> QtDialogServices::browseFolder(const std::string& start) {
    const QString folder = QFileDialog::getExistingDirectory(
        parent_, QString(), QFile::decodeName(nearestTextFolder(start).c_str()));
    if (folder.isEmpty()) return std::nullopt;
    return pathOnDisk(folder);
}

bool QtDialogServices::confirm(const std::string& title, const std::string& text) {
    // The text's lines are joined by carriage returns; a Qt label breaks lines at line feeds.
    QString shown = QString::fromStdString(text);
    shown.replace('\r', '\n');
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), shown,
                    QMessageBox::Ok | QMessageBox::Cancel, parent_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void QtDialogServices::showError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, QString::fromStdString(text),
                    QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtDialogServices::beep() {
    QApplication::beep();
}

} // namespace tarnwick
