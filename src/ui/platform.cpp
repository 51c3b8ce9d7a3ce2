#include "ui/platform.h"

#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>

namespace dravo2 {
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
    dialog.setNameFilter(QStringLiteral("dat (*.dat)"));
    dialog.setDefaultSuffix(QStringLiteral("da2"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

char RegionalDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 128) {
        return static_cast<char>(point.at(0).unicode());
    }
    return '.';
}

} // namespace dravo2
