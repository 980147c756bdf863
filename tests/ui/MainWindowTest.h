// The main window as a test drives it: a window whose message boxes are
// answered from a queue and recorded, file dialogs answered through their
// seam, and the desktop's "open" recorded instead of run.
#pragma once

#include "ui/FileDlg.h"
#include "ui/MainForm.h"
#include "ui/ShellUtils.h"

#include "TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QTest>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace vantrel::test {

struct TMessage
{
    QString Text;
    TMessageKind Kind;
    TMessageButtons Buttons;
};

class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowTest()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "zentrova", "vantrel").clear();
        SetShellOpenHandler([this](const QString& Target) { Opened << Target; });
        Window = MakeWindow();
    }
    ~MainWindowTest() override
    {
        Window.reset();
        TFileCommonDialog::SetNextAnswer(std::nullopt);
        SetShellOpenHandler({});
    }
    // Message boxes are answered from Answers and recorded in Messages.
    std::unique_ptr<TfrmMain> MakeWindow()
    {
        return std::make_unique<TfrmMain>(
            TProductInfo{}, [this](const QString& Text, TMessageKind Kind, TMessageButtons Buttons) {
                Messages.push_back({Text, Kind, Buttons});
                if (Answers.empty())
                    return Buttons == TMessageButtons::Ok ? TMessageAnswer::Ok : TMessageAnswer::No;
                const TMessageAnswer Answer = Answers.front();
                Answers.pop_front();
                return Answer;
            });
    }

    static QString S(const char* Name) { return QString::fromStdString(Stream(Name)); }
    void Add(std::initializer_list<const char*> Names)
    {
        QStringList Files;
        for (const char* Name : Names)
            Files << S(Name);
        Window->AddFiles(Files);
        Settle();
    }
    // Files are added from the event loop: until the window is done with them.
    void Settle() const
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !Window->IsAdding(); }));
    }
    TFileListView* List() const { return Window->FileList(); }
    int Rows() const { return List()->Count(); }
    QString Caption(int Row) const { return List()->FileName(Row); }
    QString Status(int Row) const { return List()->StatusText(Row); }
    QStringList Statuses() const
    {
        QStringList Result;
        for (int I = 0; I < Rows(); ++I)
            Result << Status(I);
        return Result;
    }
    QAction* Action(const char* Name) const { return Window->findChild<QAction*>(Name); }
    void Select(int Row) { List()->SelectRow(Row); }
    QString Cell(int Row, int Column) const
    {
        return List()->Model().data(List()->Model().index(Row, Column)).toString();
    }
    int SelectedRow() const { return List()->SelectedRow(); }
    QLabel* Panel(int I) const { return Window->findChild<QLabel*>(QString("StatusPanel%1").arg(I)); }
    std::map<std::string, bool> Enabled() const
    {
        std::map<std::string, bool> Result;
        for (const char* Name :
             {"acnAddFiles", "acnJoinFile", "acnPlay", "acnMoveUp", "acnMoveDown", "acnDelete", "acnClear"})
            Result[Name] = Action(Name)->isEnabled();
        return Result;
    }
    void Activate()
    {
        Window->show();
        QApplication::setActiveWindow(Window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    }

    std::unique_ptr<TfrmMain> Window;
    std::vector<TMessage> Messages;
    std::deque<TMessageAnswer> Answers;
    QStringList Opened;
    TTempDir Dir;
};

} // namespace vantrel::test
