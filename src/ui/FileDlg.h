// Thin wrappers over the file dialogs, and the names of files dropped on a
// window.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QMimeData;
class QWidget;

namespace vantrel {

// Option bits, with the meanings (and values) of the classic file dialogs.
enum TFileDialogOption : quint32
{
    ofOverwritePrompt = 0x2,
    ofHideReadOnly = 0x4,
    ofAllowMultiSelect = 0x200,
    ofFileMustExist = 0x1000,
    ofExplorer = 0x80000,
};

class TFileCommonDialog
{
public:
    virtual ~TFileCommonDialog() = default;
    // True when the user confirmed; the results are then filled in.
    virtual bool Execute() = 0;

    QWidget* OwnerWindow = nullptr;
    QString InitialDir;  // used only when not empty
    QString Title;       // used only when not empty
    QString FileName;    // result only
    QString InitialName; // what the name field starts with; empty when empty
    QString Filter;      // "Description|pattern;pattern|Description|pattern"
    quint32 Options = ofExplorer | ofFileMustExist | ofHideReadOnly;
    qint32 FilterIndex = 0;
    qint32 MaxFileSize = 1024;
    // A check box under the name field, when its text is not empty: checked
    // or not as OptionChecked says, which holds what the user left it at
    // once the dialog is confirmed.
    QString OptionText;
    bool OptionChecked = false;

    // Tests answer the next dialog instead of a person: a list of chosen full
    // paths, or an empty list for Cancel. The answer is used once.
    static void SetNextAnswer(std::optional<QStringList> Answer);
    // Queues one more answer, for a dialog that is shown again.
    static void AddNextAnswer(QStringList Answer);
    // The name field's start of the last dialog answered that way.
    static QString AnsweredInitialName();
    // How the test answers leave the check box of the next dialog that has
    // one: checked or not; without this, as the dialog showed it.
    static void SetNextOptionAnswer(std::optional<bool> Checked);

protected:
    // Runs the dialog (or takes the test answer); the chosen paths, or nothing
    // when the user cancelled.
    std::optional<QStringList> Run(bool Save, const QString& DefaultExt);
};

class TFileOpenDialog : public TFileCommonDialog
{
public:
    bool Execute() override;
    QStringList Files; // full paths of a multiple selection
    bool MultiSelect = false;
};

class TFileSaveDialog : public TFileCommonDialog
{
public:
    TFileSaveDialog();
    bool Execute() override;
    QString DefaultExt; // without the dot; appended to a name typed without one
};

// "MPEG Files|*.mpeg;*.mpg|All Files|*.*" in the form the Qt dialog takes:
// "MPEG Files (*.mpeg *.mpg);;All Files (*)".
QString ConvertFilter(const QString& Filter);

// Appends the local files of a drop to Files, in the drop's order. With
// ExistingOnly a name that is not an existing file (a folder, a missing
// name) is left out; with NonExistingOnly an existing file is left out.
void GetDroppedFiles(const QMimeData& Drop, QStringList& Files, bool ExistingOnly, bool NonExistingOnly);

// Every kind of MPEG file, in the dialogs' filter form: the extensions in
// both cases, as cameras and VCDs write capitals.
extern const QString MpegFilesFilter;

// The MPEG files the user picks in the open dialog, over Owner, starting in
// Folder; the folder they came from is kept there. Empty when cancelled.
QStringList AskInputFiles(QWidget* Owner, QString& Folder);
// Names in the order people sort them: case-insensitive, numbers by their
// value (clip2 before clip10), by the rules of the user's locale.
void SortFileNames(QStringList& Names);

} // namespace vantrel
