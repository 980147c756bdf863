#include "ui/FileDlg.h"

#include "settings/SettingsStore.h"

#include <QCollator>
#include <QFileInfo>
#include <algorithm>

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMimeData>
#include <QUrl>
#include <deque>
#include <utility>

namespace vantrel {

namespace {
std::deque<QStringList>& NextAnswers()
{
    static std::deque<QStringList> Answers;
    return Answers;
}
} // namespace

void TFileCommonDialog::SetNextAnswer(std::optional<QStringList> Answer)
{
    NextAnswers().clear();
    if (Answer)
        NextAnswers().push_back(std::move(*Answer));
}

void TFileCommonDialog::AddNextAnswer(QStringList Answer)
{
    NextAnswers().push_back(std::move(Answer));
}

namespace {
QString& AnsweredName()
{
    static QString Name;
    return Name;
}
} // namespace

QString TFileCommonDialog::AnsweredInitialName()
{
    return AnsweredName();
}

namespace {
std::optional<bool>& NextOption()
{
    static std::optional<bool> Checked;
    return Checked;
}
} // namespace

void TFileCommonDialog::SetNextOptionAnswer(std::optional<bool> Checked)
{
    NextOption() = Checked;
}

QString ConvertFilter(const QString& Filter)
{
    const QStringList Parts = Filter.split('|');
    QStringList Filters;
    for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
        QStringList Patterns = Parts[I + 1].split(';', Qt::SkipEmptyParts);
        for (QString& Pattern : Patterns)
            if (Pattern == "*.*") // every file, with or without a dot
                Pattern = "*";
        Filters << Parts[I] + " (" + Patterns.join(' ') + ")";
    }
    return Filters.join(";;");
}

std::optional<QStringList> TFileCommonDialog::Run(bool Save, const QString& DefaultExt)
{
    if (!NextAnswers().empty()) {
        QStringList Answer = std::move(NextAnswers().front());
        NextAnswers().pop_front();
        AnsweredName() = InitialName;
        if (!OptionText.isEmpty() && NextOption())
            OptionChecked = *std::exchange(NextOption(), std::nullopt);
        if (Answer.isEmpty())
            return std::nullopt;
        // As the real dialog does with a name typed without an extension.
        if (Save && !DefaultExt.isEmpty() && QFileInfo(Answer.front()).suffix().isEmpty())
            Answer.front() += "." + DefaultExt;
        return Answer;
    }
    QFileDialog Dialog(OwnerWindow);
    if (!Title.isEmpty())
        Dialog.setWindowTitle(Title);
    if (!InitialDir.isEmpty())
        Dialog.setDirectory(InitialDir);
    Dialog.setNameFilters(ConvertFilter(Filter).split(";;", Qt::SkipEmptyParts));
    if (FilterIndex > 0 && FilterIndex <= Dialog.nameFilters().size())
        Dialog.selectNameFilter(Dialog.nameFilters()[FilterIndex - 1]);
    if (!InitialName.isEmpty())
        Dialog.selectFile(InitialName);
    if (Save) {
        Dialog.setAcceptMode(QFileDialog::AcceptSave);
        Dialog.setFileMode(QFileDialog::AnyFile);
        Dialog.setOption(QFileDialog::DontConfirmOverwrite, !(Options & ofOverwritePrompt));
        Dialog.setDefaultSuffix(DefaultExt);
    } else {
        Dialog.setAcceptMode(QFileDialog::AcceptOpen);
        Dialog.setFileMode(Options & ofAllowMultiSelect ? QFileDialog::ExistingFiles
                           : Options & ofFileMustExist  ? QFileDialog::ExistingFile
                                                        : QFileDialog::AnyFile);
    }
    // The desktop's own dialog takes no check box of ours: Qt's does, on a
    // row of its own under the name and the filter.
    QCheckBox* Option = nullptr;
    if (!OptionText.isEmpty()) {
        Dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (auto* Grid = qobject_cast<QGridLayout*>(Dialog.layout())) {
            Option = new QCheckBox(OptionText, &Dialog);
            Option->setObjectName("chkOption");
            Option->setChecked(OptionChecked);
            Grid->addWidget(Option, Grid->rowCount(), 0, 1, Grid->columnCount());
        }
    }
    // Its own size would leave the name field and the buttons off a small
    // screen at a large scale.
    FitOnScreen(Dialog, OwnerWindow);
    if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty())
        return std::nullopt;
    if (Option)
        OptionChecked = Option->isChecked();
    return Dialog.selectedFiles();
}

bool TFileOpenDialog::Execute()
{
    if (MultiSelect) {
        Options |= ofAllowMultiSelect;
        MaxFileSize = 30720;
    } else {
        Options &= ~ofAllowMultiSelect;
        MaxFileSize = 1024;
    }
    const std::optional<QStringList> Chosen = Run(false, {});
    if (!Chosen)
        return false;
    if (MultiSelect)
        Files = *Chosen;
    FileName = Chosen->front();
    return true;
}

TFileSaveDialog::TFileSaveDialog()
{
    Options = (Options & ~ofFileMustExist) | ofOverwritePrompt;
}

bool TFileSaveDialog::Execute()
{
    const std::optional<QStringList> Chosen = Run(true, DefaultExt);
    if (!Chosen)
        return false;
    FileName = Chosen->front();
    return true;
}

void GetDroppedFiles(const QMimeData& Drop, QStringList& Files, bool ExistingOnly, bool NonExistingOnly)
{
    for (const QUrl& Url : Drop.urls()) {
        if (!Url.isLocalFile())
            continue;
        const QString Name = QFileInfo(Url.toLocalFile()).absoluteFilePath();
        // Anything but a folder counts as a file: what cannot be read (a FIFO,
        // a device) is refused later with a reason, not left out unseen.
        const QFileInfo Info(Name);
        const bool Exists = Info.exists() && !Info.isDir();
        if ((ExistingOnly && !Exists) || (NonExistingOnly && Exists))
            continue;
        Files.append(Name);
    }
}

const QString MpegFilesFilter =
    "MPEG Files|*.mpeg;*.mpg;*.m1v;*.mpv;*.dat;*.vob;*.vro;*.mod;*.m2v;*.m2p;*.ts;*.m2ts;*.mts;*.trp;*.tp;*.rec;"
    "*.MPEG;*.MPG;*.M1V;*.MPV;*.DAT;*.VOB;*.VRO;*.MOD;*.M2V;*.M2P;*.TS;*.M2TS;*.MTS;*.TRP;*.TP;*.REC|All Files|*.*";

QStringList AskInputFiles(QWidget* Owner, QString& Folder)
{
    TFileOpenDialog Dialog;
    Dialog.OwnerWindow = Owner;
    if (!Folder.isEmpty())
        Dialog.InitialDir = Folder;
    Dialog.Filter = MpegFilesFilter;
    Dialog.MultiSelect = true;
    if (!Dialog.Execute())
        return {};
    Folder = QFileInfo(Dialog.FileName).absolutePath();
    return Dialog.Files;
}

namespace {

bool IsAsciiDigit(QChar C)
{
    return C >= u'0' && C <= u'9';
}

// The name with every run of digits zero-padded to Width and its case
// folded, so that a collator orders numbers by their value and ignores case:
// done here rather than by the collator's options, which the C locale ignores.
QString PaddedNumbers(const QString& Name, qsizetype Width)
{
    QString Key;
    for (qsizetype I = 0; I < Name.size();) {
        qsizetype End = I;
        while (End < Name.size() && IsAsciiDigit(Name[End]))
            ++End;
        if (End == I) {
            Key += Name[I++];
            continue;
        }
        Key += QString(Width - (End - I), u'0');
        Key += QStringView(Name).sliced(I, End - I);
        I = End;
    }
    return Key.toCaseFolded();
}

} // namespace

void SortFileNames(QStringList& Names)
{
    qsizetype Width = 0;
    for (const QString& Name : Names)
        for (qsizetype I = 0, Run = 0; I < Name.size(); ++I)
            Width = std::max(Width, Run = IsAsciiDigit(Name[I]) ? Run + 1 : 0);
    QCollator Collator;
    std::vector<std::pair<QCollatorSortKey, QString>> Keyed;
    for (const QString& Name : Names)
        Keyed.emplace_back(Collator.sortKey(PaddedNumbers(Name, Width)), Name);
    // Names equal to the collator (Clip, clip; clip01, clip1) still get one order.
    std::sort(Keyed.begin(), Keyed.end(), [](const auto& A, const auto& B) {
        const int Order = A.first.compare(B.first);
        return Order != 0 ? Order < 0 : A.second < B.second;
    });
    for (qsizetype I = 0; I < Names.size(); ++I)
        Names[I] = std::move(Keyed[static_cast<std::size_t>(I)].second);
}

} // namespace vantrel
