#include "ui/platform.h"

#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>

namespace dravo2 {
inline namespace ui {
namespace {

const QStringList kOpenFilters = {QStringLiteral("da2 (*.da2)"), QStringLiteral("dat (*.dat)")};

} // namespace

void MessageBoxReporter::Report(const QString& message) {
    QMessageBox::critical(Parent, QStringLiteral("Dravo2"), message);
}

QString QtFileDialogs::OpenExperiment(int& filterIndex) {
    QFileDialog dialog(Parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(kOpenFilters);
    dialog.selectNameFilter(kOpenFilters.value(filterIndex - 1, kOpenFilters.last()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    filterIndex = static_cast<int>(kOpenFilters.indexOf(dialog.selectedNameFilter())) + 1;
    if (filterIndex < 1) {
        filterIndex = 2;
    }
    return dialog.selectedFiles().constFirst();
}

QString QtFileDialogs::SaveResult(const QString& name) {
    QFileDialog dialog(Parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A name typed without an extension gets ".da2", so the filter lists both kinds of file.
    dialog.setNameFilter(QStringLiteral("dat, da2 (*.dat *.da2)"));
    dialog.setDefaultSuffix(QStringLiteral("da2"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString LinksBrokenText(const QString& name) {
    return QStringLiteral("'%1' is a new file: its other hard links keep the old content.").arg(name);
}

char RegionalDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 128) {
        return static_cast<char>(point.at(0).unicode());
    }
    return '.';
}

} // namespace ui
} // namespace dravo2
