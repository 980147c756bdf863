// A join as the window runs it: the compatibility question, the output
// name, the join itself under the progress dialog, and the note it leaves.
#pragma once

#include "join/Progress.h"
#include "probe/MPEGInfo.h"
#include "ui/MessageBox.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace vantrel {

class TJoiner;

class TJoinFlow
{
public:
    using TAsk = std::function<TMessageAnswer(const QString& Text, TMessageKind, TMessageButtons,
                                              TMessageAnswer Default)>;
    // Owner: the window the dialogs belong to; Ask shows its message boxes.
    TJoinFlow(QWidget& Owner, TAsk Ask) : m_Owner(Owner), m_Ask(std::move(Ask)) {}

    // The progress dialog of the join, made when the join starts.
    std::function<std::unique_ptr<TProgressSink>()> CreateProgress;
    // Told which input changed since it was added, before the failure is shown.
    std::function<void(std::size_t Index)> InputChanged;
    // Told that inputs are missing, before that is said.
    std::function<void()> InputsMissing;
    // The folder the save dialog opens in; the one chosen is kept here.
    QString LastSaveFolder;
    // The save dialog's "Save a chapter list": a chapter at each file's
    // start, beside the output, in the format that fits it. What the user
    // left it at is kept here.
    bool SaveChapterList = false;

    // Asks which of Choices to take; the index chosen, or nothing when the
    // user cancelled. Unset, a list dialog of the window asks.
    std::function<std::optional<int>(const QString& Question, const QStringList& Choices)> Choose;

    struct TCompatibility
    {
        bool Cancel = false;
        bool VideoOnly = false;
        std::uint16_t Program = 0; // of transport streams, the one kept; 0: all
    };
    // False, after saying which, when inputs are gone from the disk.
    bool CheckInputsExist(const std::vector<TInputRecord>& Inputs);
    // Whether the files can be joined, and how; asks where the user decides:
    // once, which program to keep, when the first file is a multiplex.
    TCompatibility CheckCompatibility(const std::vector<TInputRecord>& Inputs);
    // The output name from the save dialog, which proposes one beside the
    // first file; the extension that fits the output is appended to a name
    // that does not end in one a join writes. Nothing when the user cancelled.
    std::optional<QString> AskOutputName(const TInputRecord& First, bool VideoOnly);

    // What a join that ran leaves for the status bar.
    struct TOutcome
    {
        QString Note;     // "Joined N files into NAME (h:mm:ss)", or why it stopped
        QString File;     // the output
        QString Chapters; // the chapter list saved beside it, or empty
    };
    // Asks, joins and reports failures ("Join fails: ..."); an outcome when
    // a join ran to its end or was cancelled.
    std::optional<TOutcome> Run(const std::vector<TInputRecord>& Inputs, bool RecalcTimecodes);

private:
    // The program of a multiplex to keep (0: all of them, and for any other
    // first file); nothing when the user cancelled.
    std::optional<std::uint16_t> AskProgram(const TMediaInfo& First);
    // The chapter list's name beside Output, in the format that fits it.
    QString ChapterListName(const TInputRecord& First, bool VideoOnly, const QString& Output) const;
    // Saves the chapter list of a join that ran to its end; its name, or
    // empty after saying why it could not be saved.
    QString SaveChapters(const TJoiner& Joiner, const QString& Name);

    TMessageAnswer Ask(const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                       TMessageAnswer Default = TMessageAnswer::Yes) const
    {
        return m_Ask(Text, Kind, Buttons, Default);
    }

    QWidget& m_Owner;
    TAsk m_Ask;
};

// The folder of a full file name, as the dialogs remember it.
QString FolderOf(const QString& FileName);
// What the status bar and the join's note say while "Re-calc Timecodes" is
// off: the joined files keep their own time stamps.
QString KeptStampsText();
// What the save dialog proposes: the first file's name with "-joined" and
// Extension, in its folder, or when that cannot be written to, in the last
// folder saved to (the home folder when none).
QString ProposedOutputName(const TInputRecord& First, const QString& Extension,
                           const QString& LastSaveFolder);

} // namespace vantrel
