#include "ui/FileDlg.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(ConvertFilter, FromTheBarForm)
{
    const std::pair<QString, QString> Cases[] = {
        {"MPEG Files|*.mpeg;*.mpg|All Files|*.*", "MPEG Files (*.mpeg *.mpg);;All Files (*)"},
        {"MPEG File|*.mpeg", "MPEG File (*.mpeg)"},
        {"MPEG File|*.mpeg|", "MPEG File (*.mpeg)"},
        {"", ""},
    };
    for (const auto& [Filter, Expected] : Cases)
        EXPECT_EQ(ConvertFilter(Filter), Expected) << Filter.toStdString();
}

// Each list is in its sorted order; sorting any shuffle of it gives it back.
TEST(SortFileNames, NumbersByValueAndLettersInAnyCase)
{
    const QStringList Sorted[] = {
        {"MVI_9.MPG", "mvi_10.mpg", "MVI_0011.MPG", "mvi_100.mpg"},
        {"1.mpg", "2.mpg", "10.mpg", "a.mpg", "B.mpg"},
        {"take1b2.mpg", "take1b10.mpg", "take2.mpg", "take2a.mpg"},
        {"clip.mpg", "clip01 (copy).mpg", "clip1 (copy).mpg", "clip1.mpg", "clip99999999999999999999.mpg",
         "clipA.mpg"},
    };
    for (const QStringList& Names : Sorted) {
        QStringList Shuffled(Names.rbegin(), Names.rend());
        Shuffled.swapItemsAt(0, 1);
        SortFileNames(Shuffled);
        EXPECT_EQ(Shuffled, Names) << Names.join(' ').toStdString();
    }
}

TEST(FileDialogs, OptionsOfEachDialog)
{
    TFileOpenDialog Open;
    EXPECT_EQ(Open.Options, 0x81004u);
    TFileSaveDialog Save;
    EXPECT_TRUE(Save.Options & ofOverwritePrompt);
    EXPECT_FALSE(Save.Options & ofFileMustExist);
}

class FileDialogTest : public ::testing::Test
{
protected:
    FileDialogTest()
    {
        for (const char* Name : {"b.mpg", "a.mpg"})
            test::WriteFile(Dir.File(Name), {0, 0, 1, 0xBA});
    }
    QString Path(const char* Name) const { return QString::fromStdString(Dir.File(Name)); }
    // Answers the next real file dialog: selects Names and presses Enter.
    void AnswerNextDialog(const QString& Typed)
    {
        QTimer::singleShot(50, [Typed] {
            auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(Dialog, nullptr);
            auto* Name = Dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(Name, nullptr);
            Name->setText(Typed);
            QMetaObject::invokeMethod(Dialog, "accept", Qt::QueuedConnection);
        });
    }
    test::TTempDir Dir;
};

TEST_F(FileDialogTest, RealOpenDialogGivesFullPathsFirstAsFileName)
{
    TFileOpenDialog Dialog;
    Dialog.InitialDir = QString::fromStdString(Dir.Path());
    Dialog.Filter = "MPEG Files|*.mpeg;*.mpg|All Files|*.*";
    Dialog.MultiSelect = true;
    Dialog.FileName = "ignored";
    AnswerNextDialog("\"b.mpg\" \"a.mpg\"");
    ASSERT_TRUE(Dialog.Execute());
    EXPECT_EQ(Dialog.Files, QStringList({Path("b.mpg"), Path("a.mpg")}));
    EXPECT_EQ(Dialog.FileName, Path("b.mpg"));
    EXPECT_EQ(Dialog.MaxFileSize, 30720);
}

TEST_F(FileDialogTest, RealSaveDialogAppendsTheDefaultExtension)
{
    TFileSaveDialog Dialog;
    Dialog.InitialDir = QString::fromStdString(Dir.Path());
    Dialog.Filter = "MPEG File|*.mpeg";
    Dialog.Title = "Select the output file name";
    Dialog.DefaultExt = "mpeg";
    AnswerNextDialog("joined");
    ASSERT_TRUE(Dialog.Execute());
    EXPECT_EQ(Dialog.FileName, Path("joined.mpeg"));
}

TEST_F(FileDialogTest, CancelKeepsThePreviousResults)
{
    TFileOpenDialog Dialog;
    Dialog.MultiSelect = true;
    TFileCommonDialog::SetNextAnswer(QStringList{Path("a.mpg")});
    ASSERT_TRUE(Dialog.Execute());
    EXPECT_EQ(Dialog.Files, QStringList{Path("a.mpg")});
    EXPECT_EQ(Dialog.FileName, Path("a.mpg"));
    TFileCommonDialog::SetNextAnswer(QStringList{});
    EXPECT_FALSE(Dialog.Execute());
    EXPECT_EQ(Dialog.Files, QStringList{Path("a.mpg")});
    EXPECT_EQ(Dialog.FileName, Path("a.mpg"));
}

TEST_F(FileDialogTest, DroppedFilesAreFilteredInOrder)
{
    QMimeData Drop;
    Drop.setUrls({QUrl::fromLocalFile(Path("b.mpg")), QUrl::fromLocalFile(QString::fromStdString(Dir.Path())),
                  QUrl::fromLocalFile(Path("missing.mpg")), QUrl("https://example.org/c.mpg"),
                  QUrl::fromLocalFile(Path("a.mpg"))});
    const struct
    {
        bool ExistingOnly, NonExistingOnly;
        QStringList Expected;
    } Cases[] = {
        {true, false, {Path("b.mpg"), Path("a.mpg")}},
        {false, true, {QString::fromStdString(Dir.Path()), Path("missing.mpg")}},
        {true, true, {}},
        {false,
         false,
         {Path("b.mpg"), QString::fromStdString(Dir.Path()), Path("missing.mpg"), Path("a.mpg")}},
    };
    for (const auto& C : Cases) {
        QStringList Files = {"kept"};
        GetDroppedFiles(Drop, Files, C.ExistingOnly, C.NonExistingOnly);
        EXPECT_EQ(Files, QStringList{"kept"} + C.Expected) << C.ExistingOnly << C.NonExistingOnly;
    }
    QMimeData Empty;
    QStringList Files;
    GetDroppedFiles(Empty, Files, true, false);
    EXPECT_TRUE(Files.isEmpty());
}

} // namespace
} // namespace vantrel
