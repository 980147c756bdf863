// The save dialog's "Save a chapter list": remembered, written beside the
// output in the format that fits it, and named in the join's note.
#include "MainWindowTest.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>

namespace vantrel {
namespace {

using namespace test;

TEST_F(MainWindowTest, ChapterListBesideTheOutputInTheFormatThatFitsIt)
{
    const struct
    {
        std::vector<const char*> Files;
        const char* Chapters; // beside "joined", in the output's format
        const char* Holds;    // a line of it
    } Cases[] = {
        {{"dvd_pal1.vob", "dvd_pal2.vob"}, "joined.dvdauthor.xml", "chapters=\"00:00:00.000,00:00:01.024\""},
        {{"mplex_vcd.mpg", "mplex_vcd_b.mpg"},
         "joined.vcdimager.xml",
         "<entry id=\"entry-001\">2.133</entry>"},
        {{"svcd1.mpg", "svcd2.mpg"}, "joined.vcdimager.xml", "class=\"svcd\""},
        {{"ff_pal.mpg", "ff_pal_b.mpg"}, "joined.chapters.txt", "CHAPTER02NAME=ff_pal_b"},
    };
    for (const auto& C : Cases) {
        Window->Edits().Clear(Rows());
        QStringList Files;
        for (const char* Name : C.Files)
            Files << S(Name);
        Window->AddFiles(Files);
        Settle();
        TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("joined"))});
        TFileCommonDialog::SetNextOptionAnswer(true);
        Action("acnJoinFile")->trigger();
        ASSERT_TRUE(Messages.empty()) << Messages.front().Text.toStdString();
        const std::string Chapters = Dir.File(C.Chapters);
        ASSERT_TRUE(FileExists(Chapters)) << C.Chapters;
        const TBytes Bytes = ReadFile(Chapters);
        EXPECT_NE(std::string(Bytes.begin(), Bytes.end()).find(C.Holds), std::string::npos) << C.Chapters;
        EXPECT_TRUE(Panel(0)->toolTip().endsWith(QString("; chapters in ") + C.Chapters))
            << Panel(0)->toolTip().toStdString();
        std::filesystem::remove(Chapters);
    }
}

TEST_F(MainWindowTest, TheChapterOptionIsRememberedAndAsksBeforeReplacing)
{
    Add({"ff_pal.mpg", "ff_pal_b.mpg"});
    // The real dialog shows the option as it was left.
    bool Shown = false, Checked = true;
    QTimer::singleShot(0, [&] {
        auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QCheckBox* Option = Dialog ? Dialog->findChild<QCheckBox*>("chkOption") : nullptr;
        Shown = Option && Option->text() == "Save a chapter list";
        Checked = Option && Option->isChecked();
        if (Dialog)
            Dialog->reject();
    });
    Action("acnJoinFile")->trigger();
    EXPECT_TRUE(Shown);
    EXPECT_FALSE(Checked);

    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("a.mpg"))});
    TFileCommonDialog::SetNextOptionAnswer(true);
    Action("acnJoinFile")->trigger();
    ASSERT_TRUE(FileExists(Dir.File("a.chapters.txt")));
    // Kept for the next start, and offered checked then.
    Window->close();
    Window = MakeWindow();
    Add({"ff_pal.mpg", "ff_pal_b.mpg"});
    // A chapter list that stands there is replaced only on Yes: No goes back
    // to the dialog, whose next answer is a name with room.
    WriteFile(Dir.File("a.chapters.txt"), {'k', 'e', 'p', 't'});
    Answers = {TMessageAnswer::No};
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("a.mpg"))});
    TFileCommonDialog::AddNextAnswer(QStringList{QString::fromStdString(Dir.File("b.mpg"))});
    Action("acnJoinFile")->trigger();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, "a.chapters.txt already exists.\r\nDo you want to replace it?");
    EXPECT_EQ(ReadFile(Dir.File("a.chapters.txt")), (TBytes{'k', 'e', 'p', 't'}));
    EXPECT_TRUE(FileExists(Dir.File("b.chapters.txt")));

    // Without re-stamped times there is no time line to mark.
    Messages.clear();
    Action("miRecalcTimecodes")->trigger();
    TFileCommonDialog::SetNextAnswer(QStringList{QString::fromStdString(Dir.File("c.mpg"))});
    Action("acnJoinFile")->trigger();
    EXPECT_FALSE(FileExists(Dir.File("c.chapters.txt")));
    EXPECT_TRUE(Panel(0)->toolTip().endsWith("time stamps kept as they are, so no chapter list"))
        << Panel(0)->toolTip().toStdString();
}

} // namespace
} // namespace vantrel
