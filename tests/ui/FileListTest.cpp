// The file list on its own: rows that hold their data, what the cells and
// tips show, and a drop target that cannot outlive its row.
#include "ui/FileList.h"
#include "ui/ListEdits.h"

#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <functional>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

QString S(const char* Name)
{
    return QString::fromStdString(Stream(Name));
}

// A list with its edits, as the window has them, under Qt's model checks.
struct TTestList : TFileListView
{
    TListEdits Edits{Model(), *selectionModel()};
    QAbstractItemModelTester Tester{&Model(), QAbstractItemModelTester::FailureReportingMode::Fatal};
    int Batch = 0;
    using QTreeView::sizeHintForColumn;

    void AddFile(const QString& Name) { Edits.Append({ProbeInput(Name.toStdString())}, Batch++); }
    void MoveRows(const std::vector<int>& Rows, int Target) { Edits.Move(Rows, Target); }
    void MoveRow(int Row, int Target) { Edits.Move({Row}, Target); }
    void RemoveRows(const std::vector<int>& Rows) { Edits.Remove(Rows); }
    void Clear() { Edits.Clear(Count()); }
};

TEST(FileList, RowsHoldTheirDataAndTheCellsShowIt)
{
    TTestList List;
    List.AddFile(S("ff_pal.mpg"));
    List.AddFile(S("ff_pal_mono48.mpg"));
    List.AddFile(S("ff_pal.m1v"));
    List.AddFile(S("avchd_1080i50_1.m2ts"));
    const TFileListModel& Model = List.Model();
    auto Cell = [&](int Row, int Column, int Role = Qt::DisplayRole) {
        return Model.data(Model.index(Row, Column), Role).toString();
    };
    EXPECT_EQ(Cell(1, lcDuration), "0:00:02.02"); // its sound runs on after the pictures
    EXPECT_EQ(Cell(1, lcAudio), "Layer II 48 kHz mono 128 kbit/s");
    EXPECT_EQ(Cell(1, lcFileName, Qt::ToolTipRole), S("ff_pal_mono48.mpg"));
    EXPECT_EQ(Cell(1, lcStatus), "Audio Differ");
    EXPECT_EQ(Cell(1, lcStatus, Qt::ToolTipRole),
              "Audio differs from the first file: 48 kHz mono vs 44.1 kHz stereo");
    EXPECT_EQ(Cell(0, lcStatus, Qt::ToolTipRole), "");
    EXPECT_EQ(Cell(2, lcAudio), "none");
    EXPECT_EQ(Cell(2, lcFrameSize), "352 x 288");
    EXPECT_EQ(Cell(3, lcFrameSize), "1920 x 1080i H.264 High@4.0");
    EXPECT_EQ(List.Record(1).Info.SampleRate, 48000);
    EXPECT_EQ(List.Record(2).Kind, mfkVideoStream);
    EXPECT_EQ(List.Record(2).Identity.Size, static_cast<std::int64_t>(ReadFile(Stream("ff_pal.m1v")).size()));
}

// Every cell after the name can be read whole at any font size; a width
// the user sets stays, and only such widths go to the settings.
TEST(FileList, ColumnsFitTheirTextsUntilTheUserSetsAWidth)
{
    for (const int Points : {9, 11, 16}) {
        TTestList List;
        QFont Font = List.font();
        Font.setPointSize(Points);
        List.setFont(Font);
        List.resize(1400, 300); // room for every text: nothing gives way
        List.AddFile(S("ff_pal.mpg"));
        List.AddFile(S("ff_pal_mono48.mpg"));
        QCoreApplication::processEvents(); // the fit after the list changed
        const QFontMetrics Metrics(Font);
        for (int Column = lcFileName + 1; Column < lcCount; ++Column)
            for (int Row = 0; Row < List.Count(); ++Row) {
                const QString Text = List.Model().data(List.Model().index(Row, Column)).toString();
                EXPECT_GT(List.columnWidth(Column), Metrics.horizontalAdvance(Text))
                    << Points << " " << Column;
            }
        EXPECT_EQ(List.ColumnWidths(), "0,0,0,0,0");
        List.setColumnWidth(lcAudio, 90);
        List.AddFile(S("ff_pal.m1v"));
        QCoreApplication::processEvents();
        EXPECT_EQ(List.columnWidth(lcAudio), 90);
        EXPECT_EQ(List.ColumnWidths(), "0,0,0,90,0");
    }
    TTestList List;
    ASSERT_TRUE(List.SetColumnWidths("75,70,80,215,90")); // an earlier version's fixed widths
    EXPECT_EQ(List.ColumnWidths(), "0,0,0,0,0");
    ASSERT_TRUE(List.SetColumnWidths("0,120"));
    EXPECT_EQ(List.ColumnWidths(), "0,120,0,0,0");
    EXPECT_FALSE(List.SetColumnWidths("wide"));
}

// A narrow window (a small screen at scale 2): the names keep room for a
// readable path, the other columns give way down to their cells' texts
// (their captions are then cut), and a path keeps the file's own name whole.
TEST(FileList, TheNamesKeepTheirRoomInANarrowWindow)
{
    TTestList List;
    QFont Font = List.font();
    Font.setPointSize(16);
    List.setFont(Font);
    List.resize(1000, 300);
    List.show();
    List.AddFile(S("ff_pal.mpg"));
    List.AddFile(S("ff_pal_mono48.mpg"));
    QCoreApplication::processEvents();
    const QFontMetrics Metrics(Font);
    EXPECT_GE(List.columnWidth(lcFileName), Metrics.averageCharWidth() * TFileListView::NameChars);
    for (const int Column : {lcFrameSize, lcFrameRate, lcDuration, lcStatus})
        EXPECT_GE(List.columnWidth(Column), List.sizeHintForColumn(Column)) << Column;
    EXPECT_LT(List.columnWidth(lcAudio), List.sizeHintForColumn(lcAudio)); // whole in its tip
    EXPECT_LT(List.columnWidth(lcFrameRate), List.header()->sectionSizeHint(lcFrameRate));

    const QString Path = "/home/someone/Videos/holiday 2026/day one/beach.mpg";
    const QString Short = ElidedPath(Path, Metrics, Metrics.horizontalAdvance("/home/someone/…/beach.mpg"));
    EXPECT_TRUE(Short.endsWith("/beach.mpg")) << Short.toStdString();
    EXPECT_TRUE(Short.startsWith("/home/")) << Short.toStdString();
    EXPECT_EQ(ElidedPath(Path, Metrics, 10000), Path);
    // Too narrow for the name itself: its middle goes.
    const QString Name = ElidedPath(Path, Metrics, Metrics.horizontalAdvance("be…mpg"));
    EXPECT_FALSE(Name.contains('/')) << Name.toStdString();
}

// Numbers as the user's locale writes them.
TEST(FileList, NumbersFollowTheLocale)
{
    const QLocale Before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TTestList List;
    List.AddFile(S("ff_pal.mpg"));
    const auto Cell = [&](int Column) { return List.Model().data(List.Model().index(0, Column)).toString(); };
    EXPECT_EQ(Cell(lcFrameRate), "25,00");
    EXPECT_EQ(Cell(lcDuration), "0:00:02,01");
    EXPECT_EQ(Cell(lcAudio), "Layer II 44,1 kHz stereo 192 kbit/s");
    EXPECT_TRUE(List.Model().SizeText().contains(',')) << List.Model().SizeText().toStdString();
    EXPECT_EQ(List.Model().TotalsText(), "1 file, 0:00:02,01");
    QLocale::setDefault(Before);
}

TEST(FileList, RowZeroIsTheReferenceWhateverHappens)
{
    TTestList List;
    for (const char* Name : {"ff_pal.mpg", "ff_vcd.mpg", "ff_vcd.mpg"})
        List.AddFile(S(Name));
    List.MoveRow(1, 0); // the NTSC clip becomes the reference
    EXPECT_EQ(List.StatusText(1), "Video Differ");
    EXPECT_EQ(List.StatusText(2), "OK");
    EXPECT_EQ(List.SelectedRow(), 0);
    List.RemoveRows({0});
    EXPECT_EQ(List.StatusText(0), "OK");
    EXPECT_EQ(List.StatusText(1), "Video Differ");
}

// Several rows move as one block, in their order, wherever they stood.
TEST(FileList, SelectedRowsMoveAndGoTogether)
{
    TTestList List;
    const char* Names[] = {"ff_pal.mpg", "ff_pal_b.mpg", "mplex_vcd.mpg", "mplex_vcd_b.mpg", "ff_vcd.mpg"};
    const struct
    {
        std::vector<int> Rows;
        int Target;
        std::vector<int> Order, Selected;
    } Cases[] = {{{1, 3}, 0, {1, 3, 0, 2, 4}, {0, 1}},
                 {{0, 2}, 9, {1, 3, 4, 0, 2}, {3, 4}},
                 {{4, 0}, 1, {1, 0, 4, 2, 3}, {1, 2}},
                 {{2}, 2, {0, 1, 2, 3, 4}, {0}}}; // already there: nothing moves, the selection stays
    for (const auto& C : Cases) {
        List.Clear();
        for (const char* Name : Names)
            List.AddFile(S(Name));
        List.MoveRows(C.Rows, C.Target);
        QStringList Got, Expected;
        for (int I = 0; I < List.Count(); ++I) {
            Got << List.FileName(I);
            Expected << S(Names[C.Order[static_cast<std::size_t>(I)]]);
        }
        EXPECT_EQ(Got, Expected) << C.Target;
        EXPECT_EQ(List.SelectedRows(), C.Selected);
    }
    List.RemoveRows({3, 0, 3});
    EXPECT_EQ(List.Count(), 3);
    EXPECT_EQ(List.SelectedRows(), std::vector<int>{0});
}

// Every edit and its undo and redo keep to the model's contract (the tester
// aborts otherwise) and bring back the same rows.
TEST(FileList, EditsUndoAndRedoKeepTheModelsContract)
{
    TTestList List;
    const auto Names = [&List] {
        QStringList Result;
        for (int I = 0; I < List.Count(); ++I)
            Result << QFileInfo(List.FileName(I)).fileName();
        return Result.join(' ').toStdString();
    };
    std::vector<std::string> States{Names()};
    const std::function<void()> Edits[] = {
        [&] {
            List.Edits.Append({ProbeInput(Stream("ff_pal.mpg")), ProbeInput(Stream("ff_vcd.mpg"))}, 7);
        },
        [&] {
            List.Edits.Append({ProbeInput(Stream("ff_small.mpg")), ProbeInput(Stream("ff_pal_b.mpg"))}, 8);
        },
        [&] { List.MoveRows({3}, 0); }, // a rotation, which is not its own inverse
        [&] {
            List.MoveRows({1, 3}, 0);
        },
        [&] {
            List.RemoveRows({0, 2});
        },
        [&] { List.Clear(); },
    };
    for (const auto& Edit : Edits) {
        Edit();
        States.push_back(Names());
    }
    QUndoStack& Stack = List.Edits.Stack();
    for (std::size_t I = States.size() - 1; I > 0; --I) {
        Stack.undo();
        EXPECT_EQ(Names(), States[I - 1]);
    }
    for (std::size_t I = 1; I < States.size(); ++I) {
        Stack.redo();
        EXPECT_EQ(Names(), States[I]);
    }
    EXPECT_EQ(States[3], "ff_pal_b.mpg ff_pal.mpg ff_vcd.mpg ff_small.mpg");
    EXPECT_EQ(States[4], "ff_pal.mpg ff_small.mpg ff_pal_b.mpg ff_vcd.mpg"); // the block in its order
}

TEST(FileList, TheDropTargetGoesWithItsRow)
{
    TTestList List;
    for (const char* Name : {"ff_pal.mpg", "ff_pal_b.mpg", "mplex_vcd.mpg"})
        List.AddFile(S(Name));
    List.SetDropTarget(2);
    List.MoveRow(0, 2); // the target row moves up one place, and stays the target
    EXPECT_EQ(List.DropTarget(), 1);
    EXPECT_EQ(List.FileName(1), S("mplex_vcd.mpg"));
    List.RemoveRows({1});
    EXPECT_EQ(List.DropTarget(), -1);
    List.SetDropTarget(0);
    List.Clear();
    EXPECT_EQ(List.DropTarget(), -1);
}

} // namespace
} // namespace vantrel
