// The file list on its own: rows that hold their data, what the cells and
// tips show, and a drop target that cannot outlive its row.
#include "ui/FileList.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

QString S(const char* Name)
{
    return QString::fromStdString(Stream(Name));
}

TEST(FileList, RowsHoldTheirDataAndTheCellsShowIt)
{
    TFileListView List;
    List.AddFile(S("ff_pal.mpg"));
    List.AddFile(S("ff_pal_mono48.mpg"));
    List.AddFile(S("ff_pal.m1v"));
    QTreeWidgetItem* Row = List.topLevelItem(1);
    EXPECT_EQ(Row->text(lcDuration), "0:00:02.02"); // its sound runs on after the pictures
    EXPECT_EQ(Row->text(lcAudio), "Layer II 48 kHz mono 128 kbit/s");
    EXPECT_EQ(Row->toolTip(lcFileName), S("ff_pal_mono48.mpg"));
    EXPECT_EQ(List.StatusText(1), "Audio Differ");
    EXPECT_EQ(Row->toolTip(lcStatus), "Audio differs from the first file: 48 kHz mono vs 44.1 kHz stereo");
    EXPECT_EQ(List.topLevelItem(0)->toolTip(lcStatus), "");
    EXPECT_EQ(List.topLevelItem(2)->text(lcAudio), "none");
    // What a cell shows is never read back.
    Row->setText(lcFileName, "something else");
    EXPECT_EQ(List.FileName(1), S("ff_pal_mono48.mpg"));
    EXPECT_EQ(List.Records()[1].SampleRate, 48000);
    EXPECT_EQ(List.FileNames(), QStringList({S("ff_pal.mpg"), S("ff_pal_mono48.mpg"), S("ff_pal.m1v")}));
}

TEST(FileList, RowZeroIsTheReferenceWhateverHappens)
{
    TFileListView List;
    for (const char* Name : {"ff_pal.mpg", "ff_vcd.mpg", "ff_vcd.mpg"})
        List.AddFile(S(Name));
    List.MoveRow(1, 0); // the NTSC clip becomes the reference
    EXPECT_EQ(List.StatusText(1), "Video Differ");
    EXPECT_EQ(List.StatusText(2), "OK");
    EXPECT_EQ(List.SelectedRow(), 0);
    List.RemoveRow(0);
    EXPECT_EQ(List.StatusText(0), "OK");
    EXPECT_EQ(List.StatusText(1), "Video Differ");
}

TEST(FileList, TheDropTargetGoesWithItsRow)
{
    TFileListView List;
    for (const char* Name : {"ff_pal.mpg", "ff_pal_b.mpg", "mplex_vcd.mpg"})
        List.AddFile(S(Name));
    List.SetDropTarget(2);
    List.MoveRow(0, 2); // the target row moves up one place, and stays the target
    EXPECT_EQ(List.DropTarget(), 1);
    EXPECT_EQ(List.FileName(1), S("mplex_vcd.mpg"));
    List.RemoveRow(1);
    EXPECT_EQ(List.DropTarget(), -1);
    List.SetDropTarget(0);
    List.clear();
    EXPECT_EQ(List.DropTarget(), -1);
}

} // namespace
} // namespace vantrel
