#include "ui/JoinFlow.h"

#include "ui/ProgressDlg.h"

#include "join/Joiner.h"
#include "probe/JoinRules.h"
#include "ui/FileDlg.h"

#include <QFile>
#include <QFileInfo>

namespace vantrel {

QString KeptStampsText()
{
    return "time stamps kept as they are";
}

QString FolderOf(const QString& FileName)
{
    return QFileInfo(FileName).absolutePath();
}

QString WithMpegExtension(const QString& FileName)
{
    const qsizetype Slash = FileName.lastIndexOf('/');
    const qsizetype Dot = FileName.lastIndexOf('.');
    const QString Extension = Dot > Slash ? FileName.mid(Dot) : QString();
    return Extension == ".mpeg" ? FileName : FileName + ".mpeg";
}

TJoinFlow::TCompatibility TJoinFlow::CheckCompatibility(const std::vector<TInputRecord>& Inputs)
{
    std::vector<const TMediaInfo*> Infos;
    for (const TInputRecord& Input : Inputs)
        Infos.push_back(&Input.Info);
    const TJoinDecision Decision = DecideJoin(Infos);
    const QString Message = QString::fromStdString(Decision.Message);
    TCompatibility Result;
    switch (Decision.Verdict) {
    case TJoinVerdict::Refuse:
        Ask(Message, TMessageKind::Information, TMessageButtons::Ok);
        Result.Cancel = true;
        break;
    case TJoinVerdict::AskVideoOnly:
        if (Ask(Message + "\r\nDo you want to continue?", TMessageKind::Confirmation,
                TMessageButtons::YesNo) == TMessageAnswer::Yes)
            Result.VideoOnly = true;
        else
            Result.Cancel = true;
        break;
    case TJoinVerdict::JoinVideoOnly: Result.VideoOnly = true; break;
    case TJoinVerdict::Join: break;
    }
    return Result;
}

std::optional<QString> TJoinFlow::AskOutputName()
{
    for (QString Typed;;) {
        TFileSaveDialog Dialog;
        Dialog.OwnerWindow = &m_Owner;
        Dialog.InitialName = Typed;
        if (!LastSaveFolder.isEmpty())
            Dialog.InitialDir = LastSaveFolder;
        Dialog.Filter = "MPEG File|*.mpeg";
        Dialog.Title = "Select the output file name";
        Dialog.DefaultExt = "mpeg";
        if (!Dialog.Execute())
            return std::nullopt;
        LastSaveFolder = FolderOf(Dialog.FileName);
        const QString Name = WithMpegExtension(Dialog.FileName);
        // The dialog asked about the name typed, not about the one with
        // ".mpeg": ask as it would, and No goes back to it, the name as typed.
        if (Name != Dialog.FileName && QFileInfo::exists(Name) &&
            Ask(QFileInfo(Name).fileName() + " already exists.\r\nDo you want to replace it?",
                TMessageKind::Warning, TMessageButtons::YesNo, TMessageAnswer::No) != TMessageAnswer::Yes) {
            Typed = Dialog.FileName;
            continue;
        }
        return Name;
    }
}

std::optional<TJoinFlow::TOutcome> TJoinFlow::Run(const std::vector<TInputRecord>& Inputs,
                                                  bool RecalcTimecodes)
{
    const TCompatibility Check = CheckCompatibility(Inputs);
    if (Check.Cancel)
        return std::nullopt;
    const QString FolderBefore = LastSaveFolder;
    const std::optional<QString> OutputName = AskOutputName();
    if (!OutputName)
        return std::nullopt;
    TJoiner Joiner;
    Joiner.VideoOnly = Check.VideoOnly;
    Joiner.RecalcTimecodes = RecalcTimecodes;
    Joiner.Inputs = Inputs;
    Joiner.FrameRate = Inputs.front().Info.FrameRate;
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
    TOutcome Outcome{{}, FolderOf(*OutputName)};
    if (Joiner.Cancelled()) {
        Outcome.Note = "Join cancelled: " + Name + " holds what was joined so far";
        return Outcome;
    }
    TMediaInfo Joined;
    try {
        ProbeMediaFile(Joiner.OutputFileName, Joined);
    } catch (const Exception&) {
        // The note goes without a duration.
    }
    Outcome.Note = QString("Joined %1 %2 into %3")
                       .arg(Inputs.size())
                       .arg(Inputs.size() == 1 ? "file" : "files")
                       .arg(Name);
    if (Joined.Duration > 0)
        Outcome.Note += " (" + ClockText(Joined.Duration) + ")";
    if (!RecalcTimecodes)
        Outcome.Note += "; " + KeptStampsText();
    return Outcome;
}

} // namespace vantrel
