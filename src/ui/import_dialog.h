#pragma once

#include "data/curve_import.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QRadioButton;
class QTableWidget;
class QWidget;

namespace dravo2 {
inline namespace ui {

// How many parsed rows the import dialog shows.
inline constexpr int kImportPreviewRows = 20;

// The questions of an import: which file, then which columns, unit and rows.
class ImportDialogs {
public:
    virtual ~ImportDialogs() = default;
    // Asks for a measured file of any kind. An empty name means cancelled.
    virtual QString OpenMeasuredCurve() = 0;
    // Shows the parsed file, starting from `suggestion`, and lets the user settle `choice`.
    // Returns false when cancelled.
    virtual bool ChooseImport(const ParsedCurveFile& file, const QString& fileName, const ImportSuggestion& suggestion,
                              ImportChoice& choice) = 0;
};

// The import dialog: the file's kind, its first rows, the field and moment columns, the field
// unit (with a warning where the file does not state it), the moment's uncertainty column and
// unit and, for more rows than the table holds, thinning or keeping the first rows.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    ImportDialog(const ParsedCurveFile& file, const QString& fileName, const ImportSuggestion& suggestion,
                 QWidget* parent = nullptr);

    ImportChoice Choice() const;

    QLabel* KindText = nullptr;
    QTableWidget* Preview = nullptr;
    QComboBox* FieldColumn = nullptr;
    QComboBox* MomentColumn = nullptr;
    QComboBox* Unit = nullptr;
    QLabel* UnitWarning = nullptr;
    QComboBox* SigmaColumn = nullptr; // "none", then the columns; preselected by name
    QComboBox* MomentUnit = nullptr;  // "as stated" (or "not stated"), emu, A m2
    QLabel* RowsText = nullptr;
    QRadioButton* ThinRows = nullptr;
    QRadioButton* FirstRows = nullptr;

private:
    void ColumnsChanged();

    const ParsedCurveFile& File;
};

class QtImportDialogs : public ImportDialogs {
public:
    explicit QtImportDialogs(QWidget* parent) : Parent(parent) {}
    QString OpenMeasuredCurve() override;
    bool ChooseImport(const ParsedCurveFile& file, const QString& fileName, const ImportSuggestion& suggestion,
                      ImportChoice& choice) override;

private:
    QWidget* Parent;
};

} // namespace ui
} // namespace dravo2
