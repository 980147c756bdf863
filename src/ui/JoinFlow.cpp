#include "ui/JoinFlow.h"

#include "ui/ProgressDlg.h"

#include "io/OutputFile.h"
#include "join/Chapters.h"
#include "join/Joiner.h"
#include "probe/JoinRules.h"
#include "ui/FileDlg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QStringList>

namespace vantrel {

QString KeptStampsText()
{
    return "time stamps kept as they are";
}

QString FolderOf(const QString& FileName)
{
    return QFileInfo(FileName).absolutePath();
}

QString ProposedOutputName(const TInputRecord& First, const QString& Extension, const QString& LastSaveFolder)
{
    const QFileInfo Input(QString::fromLocal8Bit(First.FileName));
    // Beside the first file, unless that is a disc or another folder that
    // cannot be written to.
    QString Folder = Input.absolutePath();
    if (!QFileInfo(Folder).isWritable())
        Folder = LastSaveFolder.isEmpty() ? QDir::homePath() : LastSaveFolder;
    return QDir(Folder).filePath(Input.completeBaseName() + "-joined" + Extension);
}

std::optional<std::uint16_t> TJoinFlow::AskProgram(const TMediaInfo& First)
{
    if (!First.TransportStream || First.Programs.size() < 2)
        return 0;
    QStringList Choices{"All programs"};
    for (const TProgramInfo& Program : First.Programs)
        Choices << (Program.Name.empty()
                        ? QString::number(Program.Number)
                        : QString("%1 \"%2\"").arg(Program.Number).arg(QString::fromStdString(Program.Name)));
    const QString Question = "The first file holds several programs. Which do you want to join?";
    std::optional<int> Chosen;
    if (Choose) {
        Chosen = Choose(Question, Choices);
    } else {
        bool Ok = false;
        const QString Item = QInputDialog::getItem(&m_Owner, "Vantrel", Question, Choices, 0, false, &Ok);
        if (Ok)
            Chosen = static_cast<int>(Choices.indexOf(Item));
    }
    if (!Chosen || *Chosen < 0 || *Chosen > static_cast<int>(First.Programs.size()))
        return std::nullopt;
    return *Chosen == 0 ? 0 : First.Programs[static_cast<std::size_t>(*Chosen - 1)].Number;
}

TJoinFlow::TCompatibility TJoinFlow::CheckCompatibility(const std::vector<TInputRecord>& Inputs)
{
    TCompatibility Result;
    const std::optional<std::uint16_t> Program = AskProgram(Inputs.front().Info);
    if (!Program) {
        Result.Cancel = true;
        return Result;
    }
    Result.Program = *Program;
    TJoinDecision Decision;
    try {
        Decision = DecideJoin(InputsOfProgram(Inputs, *Program));
    } catch (const Exception& E) {
        Decision.Message = E.what();
    }
    const QString Message = QString::fromStdString(Decision.Message);
    switch (Decision.Verdict) {
    case TJoinVerdict::Refuse:
        Ask(Message, TMessageKind::Warning, TMessageButtons::Ok);
        Result.Cancel = true;
        break;
    case TJoinVerdict::AskVideoOnly:
        // No, the default, keeps the sound by not joining at all.
        if (Ask(Message + "\r\nDo you want to join the video only, without sound?",
                TMessageKind::Confirmation, TMessageButtons::YesNo,
                TMessageAnswer::No) == TMessageAnswer::Yes)
            Result.VideoOnly = true;
        else
            Result.Cancel = true;
        break;
    case TJoinVerdict::JoinVideoOnly: Result.VideoOnly = true; break;
    case TJoinVerdict::Join: break;
    }
    return Result;
}

std::optional<QString> TJoinFlow::AskOutputName(const TInputRecord& First, bool VideoOnly)
{
    const QString Extension = OutputExtension(First.Info, VideoOnly);
    for (QString Typed = ProposedOutputName(First, Extension, LastSaveFolder);;) {
        TFileSaveDialog Dialog;
        Dialog.OwnerWindow = &m_Owner;
        Dialog.InitialName = Typed;
        Dialog.InitialDir = FolderOf(Typed);
        Dialog.Filter = MpegFilesFilter;
        Dialog.Title = "Select the output file name";
        Dialog.DefaultExt = Extension.mid(1);
        Dialog.OptionText = "Save a chapter list";
        Dialog.OptionChecked = SaveChapterList;
        if (!Dialog.Execute())
            return std::nullopt;
        SaveChapterList = Dialog.OptionChecked;
        LastSaveFolder = FolderOf(Dialog.FileName);
        const QString Name =
            QFile::decodeName(WithOutputExtension(QFile::encodeName(Dialog.FileName).toStdString(),
                                                  Extension.toLatin1().constData())
                                  .c_str());
        // The dialog asked about the name typed, not about the one with the
        // extension added: ask as it would, and No goes back to it, the name
        // as typed.
        if (Name != Dialog.FileName && QFileInfo::exists(Name) &&
            Ask(QFileInfo(Name).fileName() + " already exists.\r\nDo you want to replace it?",
                TMessageKind::Warning, TMessageButtons::YesNo, TMessageAnswer::No) != TMessageAnswer::Yes) {
            Typed = Dialog.FileName;
            continue;
        }
        // The chapter list beside it is replaced only when the user says so too.
        if (const QString Chapters = SaveChapterList ? ChapterListName(First, VideoOnly, Name) : QString();
            !Chapters.isEmpty() && QFileInfo::exists(Chapters) &&
            Ask(QFileInfo(Chapters).fileName() + " already exists.\r\nDo you want to replace it?",
                TMessageKind::Warning, TMessageButtons::YesNo, TMessageAnswer::No) != TMessageAnswer::Yes) {
            Typed = Dialog.FileName;
            continue;
        }
        return Name;
    }
}

QString TJoinFlow::ChapterListName(const TInputRecord& First, bool VideoOnly, const QString& Output) const
{
    TDiscKind Disc = TDiscKind::None;
    try {
        Disc = DiscKindOf(First, ReadInputTimes(First), VideoOnly);
    } catch (const Exception&) {
        // The join will say what is wrong with the file.
    }
    return QFile::decodeName(
        ChapterFileName(QFile::encodeName(Output).toStdString(), ChapterFormatFor(Disc)).c_str());
}

QString TJoinFlow::SaveChapters(const TJoiner& Joiner, const QString& Name)
{
    try {
        std::vector<TInputTimes> Times;
        for (const TInputRecord& Input : Joiner.Inputs)
            Times.push_back(ReadInputTimes(Input));
        const TChapterList List = MakeChapterList(Joiner.Inputs, Times, PlaceInputs(Joiner, Times),
                                                  Joiner.OutputFileName, Joiner.VideoOnly);
        const std::string Text = ChapterText(List, ChapterFormatFor(List.Disc));
        TOutputFile File(QFile::encodeName(Name).toStdString());
        File.Write(Text.data(), Text.size());
        File.Commit();
        return Name;
    } catch (const std::exception& E) {
        Ask("The chapter list could not be saved: " + QString::fromStdString(E.what()), TMessageKind::Warning,
            TMessageButtons::Ok);
        return {};
    }
}

bool TJoinFlow::CheckInputsExist(const std::vector<TInputRecord>& Inputs)
{
    QStringList Missing;
    for (const TInputRecord& Input : Inputs)
        if (const QString Name = QString::fromLocal8Bit(Input.FileName); !QFileInfo::exists(Name))
            Missing << Name;
    if (Missing.isEmpty())
        return true;
    if (InputsMissing)
        InputsMissing();
    Ask(Missing.size() == 1
            ? "The file " + Missing.front() +
                  " is missing: it was moved or deleted after it was added.\r\nPut it back, or "
                  "remove it from the list."
            : "These files are missing: they were moved or deleted after they were added.\r\n" +
                  Missing.join("\r\n") + "\r\nPut them back, or remove them from the list.",
        TMessageKind::Warning, TMessageButtons::Ok);
    return false;
}

std::optional<TJoinFlow::TOutcome> TJoinFlow::Run(const std::vector<TInputRecord>& Inputs,
                                                  bool RecalcTimecodes)
{
    if (!CheckInputsExist(Inputs))
        return std::nullopt;
    const TCompatibility Check = CheckCompatibility(Inputs);
    if (Check.Cancel)
        return std::nullopt;
    const QString FolderBefore = LastSaveFolder;
    const std::optional<QString> OutputName = AskOutputName(Inputs.front(), Check.VideoOnly);
    if (!OutputName)
        return std::nullopt;
    TJoiner Joiner;
    Joiner.VideoOnly = Check.VideoOnly;
    Joiner.RecalcTimecodes = RecalcTimecodes;
    Joiner.Inputs = Inputs;
    Joiner.FrameRate = Inputs.front().Info.FrameRate;
    Joiner.Program = Check.Program;
    Joiner.OutputFileName = QFile::encodeName(*OutputName).toStdString();
    Joiner.CreateProgress = CreateProgress;
    try {
        Joiner.Execute();
    } catch (const std::exception& E) {
        if (const auto* Changed = dynamic_cast<const TInputChanged*>(&E); Changed && InputChanged)
            InputChanged(Changed->Index);
        Ask("Join fails: " + QString::fromStdString(E.what()), TMessageKind::Warning, TMessageButtons::Ok);
        // A folder the output could not go to is not where the next save
        // dialog should open (it may be gone, or a mount that hangs).
        LastSaveFolder = FolderBefore;
        return std::nullopt;
    }

    const QString Name = QFileInfo(*OutputName).fileName();
    TOutcome Outcome{{}, *OutputName, {}};
    if (Joiner.Cancelled()) {
        Outcome.Note = "Join cancelled: " + Name + " holds what was joined so far";
        return Outcome;
    }
    Outcome.Note = QString("Joined %1 %2 into %3")
                       .arg(Inputs.size())
                       .arg(Inputs.size() == 1 ? "file" : "files")
                       .arg(Name);
    // How long the output runs, as the join's plan made it.
    if (const double Duration = Joiner.Plan().Duration; Duration > 0)
        Outcome.Note += " (" + ClockText(Duration) + ")";
    // Without re-stamped times the files have no one time line to mark.
    const bool Chapters = SaveChapterList && (RecalcTimecodes || Joiner.VideoOnly);
    if (Chapters)
        Outcome.Chapters =
            SaveChapters(Joiner, ChapterListName(Inputs.front(), Joiner.VideoOnly, *OutputName));
    if (!Outcome.Chapters.isEmpty())
        Outcome.Note += "; chapters in " + QFileInfo(Outcome.Chapters).fileName();
    if (!RecalcTimecodes)
        Outcome.Note +=
            "; " + KeptStampsText() + (SaveChapterList && !Chapters ? ", so no chapter list" : "");
    return Outcome;
}

} // namespace vantrel
