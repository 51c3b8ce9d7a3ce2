#include "ui/import_dialog.h"

#include "data/number_text.h"
#include "ui/platform.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace dravo2 {
inline namespace ui {
namespace {

int ComboIndexOf(const QComboBox* combo, std::int32_t column) {
    return combo->findData(column);
}

std::int32_t ColumnOf(const QComboBox* combo) {
    return combo->currentIndex() < 0 ? -1 : combo->currentData().toInt();
}

} // namespace

ImportDialog::ImportDialog(const ParsedCurveFile& file, const QString& fileName, const ImportSuggestion& suggestion,
                           QWidget* parent)
    : QDialog(parent), File(file) {
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(tr("Import measured curve"));
    auto* layout = new QVBoxLayout(this);

    KindText = new QLabel(QStringLiteral("%1: %2, %3 rows of numbers")
                              .arg(QFileInfo(fileName).fileName(), QString::fromStdString(DescribeCurveFile(file)))
                              .arg(file.RowCount()),
                          this);
    layout->addWidget(KindText);

    const char separator = RegionalDecimalSeparator();
    const int rows = static_cast<int>(std::min<std::size_t>(file.RowCount(), kImportPreviewRows));
    Preview = new QTableWidget(rows, static_cast<int>(file.Columns.size()), this);
    Preview->setObjectName(QStringLiteral("ImportPreview"));
    Preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList headers;
    for (const CurveColumn& column : file.Columns) {
        headers << QString::fromStdString(column.Name);
    }
    Preview->setHorizontalHeaderLabels(headers);
    for (int r = 0; r < rows; ++r) {
        const std::span<const double> row = file.Row(static_cast<std::size_t>(r));
        Preview->setVerticalHeaderItem(
            r, new QTableWidgetItem(QString::number(file.RowLines[static_cast<std::size_t>(r)])));
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (!std::isnan(row[c])) {
                Preview->setItem(
                    r, static_cast<int>(c),
                    new QTableWidgetItem(QString::fromStdString(GeneralNumberText(row[c], 10, separator))));
            }
        }
    }
    for (std::size_t c = 0; c < file.Columns.size(); ++c) {
        Preview->setColumnHidden(static_cast<int>(c), !file.Columns[c].HasValues); // instruments leave many empty
    }
    Preview->resizeColumnsToContents();
    Preview->setMinimumSize(640, 300);
    layout->addWidget(Preview);

    auto* form = new QFormLayout;
    FieldColumn = new QComboBox(this);
    MomentColumn = new QComboBox(this);
    for (std::size_t c = 0; c < file.Columns.size(); ++c) {
        if (file.Columns[c].HasValues) {
            const QString text = QStringLiteral("%1: %2").arg(c + 1).arg(QString::fromStdString(file.Columns[c].Name));
            FieldColumn->addItem(text, static_cast<int>(c));
            MomentColumn->addItem(text, static_cast<int>(c));
        }
    }
    FieldColumn->setCurrentIndex(ComboIndexOf(FieldColumn, suggestion.FieldColumn));
    MomentColumn->setCurrentIndex(ComboIndexOf(MomentColumn, suggestion.MomentColumn));
    Unit = new QComboBox(this);
    for (FieldUnit unit : kFieldUnits) {
        QString text = QString::fromStdString(FieldUnitName(unit));
        if (unit == FieldUnit::MilliTesla || unit == FieldUnit::Tesla) {
            text += tr(" (of mu0 H)");
        }
        Unit->addItem(text, static_cast<int>(unit));
    }
    UnitWarning = new QLabel(this);
    UnitWarning->setObjectName(QStringLiteral("UnitWarning"));
    UnitWarning->setStyleSheet(QStringLiteral("color: #b00000"));
    UnitWarning->setWordWrap(true);
    SigmaColumn = new QComboBox(this);
    SigmaColumn->setObjectName(QStringLiteral("SigmaColumn"));
    SigmaColumn->addItem(tr("none"), -1);
    for (std::size_t c = 0; c < file.Columns.size(); ++c) {
        if (file.Columns[c].HasValues) {
            SigmaColumn->addItem(QStringLiteral("%1: %2").arg(c + 1).arg(QString::fromStdString(file.Columns[c].Name)),
                                 static_cast<int>(c));
        }
    }
    SigmaColumn->setCurrentIndex(std::max(0, ComboIndexOf(SigmaColumn, suggestion.SigmaColumn)));
    SigmaColumn->setToolTip(tr("The standard uncertainty of each moment: the misfit then weights each point by "
                               "1/sigma^2 and gives chi2"));
    MomentUnit = new QComboBox(this);
    MomentUnit->setObjectName(QStringLiteral("MomentUnit"));
    const auto statedMoment =
        suggestion.MomentColumn >= 0
            ? MomentUnitFromText(file.Columns[static_cast<std::size_t>(suggestion.MomentColumn)].Unit)
            : std::nullopt;
    MomentUnit->addItem(statedMoment
                            ? tr("%1 (as the file states)").arg(QString::fromStdString(MomentUnitName(*statedMoment)))
                            : tr("not stated"),
                        0.0);
    MomentUnit->addItem(QStringLiteral("emu"), 1e-3);
    MomentUnit->addItem(QStringLiteral("A m2"), 1.0);
    MomentUnit->setToolTip(tr("Needed only where the sample area fixes the scale"));
    form->addRow(tr("Field column:"), FieldColumn);
    form->addRow(tr("Moment column:"), MomentColumn);
    form->addRow(tr("Field unit:"), Unit);
    form->addRow(QString(), UnitWarning);
    form->addRow(tr("Uncertainty column:"), SigmaColumn);
    form->addRow(tr("Moment unit:"), MomentUnit);
    layout->addLayout(form);

    RowsText = new QLabel(this);
    RowsText->setWordWrap(true);
    ThinRows = new QRadioButton(tr("Thin the curve evenly (every k-th row)"), this);
    FirstRows = new QRadioButton(tr("Keep the first %1 rows").arg(MaxRows), this);
    ThinRows->setChecked(true);
    layout->addWidget(RowsText);
    layout->addWidget(ThinRows);
    layout->addWidget(FirstRows);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(FieldColumn, &QComboBox::currentIndexChanged, this, [this] {
        // A newly chosen field column brings the unit its header states.
        const std::int32_t field = ColumnOf(FieldColumn);
        const auto stated =
            field >= 0 ? FieldUnitFromText(File.Columns[static_cast<std::size_t>(field)].Unit) : std::nullopt;
        Unit->setCurrentIndex(Unit->findData(static_cast<int>(stated.value_or(FieldUnit::AmperePerMetre))));
        UnitWarning->setText(stated ? QString()
                                    : tr("The file does not state the unit of this column: A/m is assumed. "
                                         "Choose the unit the field was measured in."));
        UnitWarning->setVisible(!stated);
        ColumnsChanged();
    });
    connect(MomentColumn, &QComboBox::currentIndexChanged, this, [this] { ColumnsChanged(); });
    Unit->setCurrentIndex(Unit->findData(static_cast<int>(suggestion.StatedUnit.value_or(FieldUnit::AmperePerMetre))));
    UnitWarning->setText(suggestion.StatedUnit ? QString()
                                               : tr("The file does not state the unit of this column: A/m is "
                                                    "assumed. Choose the unit the field was measured in."));
    UnitWarning->setVisible(!suggestion.StatedUnit);
    ColumnsChanged();
}

void ImportDialog::ColumnsChanged() {
    const std::int32_t field = ColumnOf(FieldColumn);
    const std::int32_t moment = ColumnOf(MomentColumn);
    const std::int32_t usable = field >= 0 && moment >= 0 ? UsableRowCount(File, field, moment) : 0;
    const bool tooMany = usable > MaxRows;
    if (tooMany) {
        const std::int32_t stride = (usable + MaxRows - 1) / MaxRows;
        RowsText->setText(tr("%1 rows hold both columns, more than the %2 the table holds. Thinning keeps one "
                             "row in %3 (%4 rows).")
                              .arg(usable)
                              .arg(MaxRows)
                              .arg(stride)
                              .arg((usable + stride - 1) / stride));
    } else {
        RowsText->setText(tr("%1 rows hold both columns.").arg(usable));
    }
    ThinRows->setVisible(tooMany);
    FirstRows->setVisible(tooMany);
}

ImportChoice ImportDialog::Choice() const {
    ImportChoice choice;
    choice.FieldColumn = ColumnOf(FieldColumn);
    choice.MomentColumn = ColumnOf(MomentColumn);
    choice.Unit = static_cast<FieldUnit>(Unit->currentData().toInt());
    choice.Long = FirstRows->isChecked() ? LongCurve::FirstRows : LongCurve::Thin;
    choice.SigmaColumn = ColumnOf(SigmaColumn);
    if (choice.SigmaColumn == choice.FieldColumn || choice.SigmaColumn == choice.MomentColumn) {
        choice.SigmaColumn = -1;
    }
    choice.MomentUnit = MomentUnit->currentData().toDouble();
    return choice;
}

QString QtImportDialogs::OpenMeasuredCurve() {
    return QFileDialog::getOpenFileName(Parent, QObject::tr("Import measured curve"), QString(),
                                        QObject::tr("Measured curves (*.dat *.DAT *.txt *.csv *.tsv *.da2);;"
                                                    "All files (*)"));
}

bool QtImportDialogs::ChooseImport(const ParsedCurveFile& file, const QString& fileName,
                                   const ImportSuggestion& suggestion, ImportChoice& choice) {
    ImportDialog dialog(file, fileName, suggestion, Parent);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    choice = dialog.Choice();
    return true;
}

} // namespace ui
} // namespace dravo2
