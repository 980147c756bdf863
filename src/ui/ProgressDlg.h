// The small window a join shows while it runs on the user-interface thread:
// a text, a bar, an estimate of the time left and a Cancel button.
#pragma once

#include "join/Progress.h"

#include <QDialog>
#include <QList>
#include <QPointer>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vantrel {

// "h:mm:ss", whole seconds.
QString ClockText(double Seconds);
// "about 0:00:07 left": the time so far, stretched over what is still to
// go at the same pace. Empty until the pace is steady (the first seconds
// and per cent of a join read from the disk's cache or fill its own), and
// once the work is done.
QString TimeLeftText(std::int64_t ElapsedMs, std::int32_t Position);
inline constexpr std::int64_t SteadyAfterMs = 2000;
inline constexpr std::int32_t SteadyAfterPercent = 3;

class TfrmProgress : public QDialog, public TProgressSink
{
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* Owner, TClock Clock = SteadyClockMs);
    ~TfrmProgress() override;

    void SetCaption(const std::string& Text) override;
    void SetText(const std::string& Text) override;
    void Show() override { show(); }
    void SetPosition(std::int32_t Position) override;
    // Delivers pending events (so the dialog repaints and the Cancel press
    // arrives), then tells whether the user asked to stop.
    bool IsCancelled() override;
    // Asks the operation to stop, as the Cancel button does.
    void Cancel() { btnCancelClick(); }
    // Asks it to stop and to leave nothing behind: the program is to end.
    void Abandon()
    {
        FAbandoned = true;
        btnCancelClick();
    }
    bool KeepsStoppedWork() override { return !FAbandoned; }
    // "File 2 of 5: clip2.mpg", above the bar.
    void SetCurrentFile(const std::string& FileName, std::size_t Index, std::size_t Count) override;

    // Events are delivered at most this often: a join polls after every
    // packet, tens of thousands of times a second, and a user cannot tell
    // 10 milliseconds from none.
    static constexpr std::int64_t PumpIntervalMs = 10;

protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void reject() override {}

private:
    void btnCancelClick();
    void btnMinimizeClick() {}
    void DisableOtherWindows();
    void EnableDisabledWindows();

    QFrame* Panel1;
    QLabel* lblText;
    QProgressBar* ProgressBar;
    QLabel* lblFile;
    QLabel* lblTime;
    QLabel* lblElapsed;
    QPushButton* btnCancel;
    QPushButton* btnMinimize;

    TClock FClock;
    bool FCancelled = false;
    bool FAbandoned = false;
    std::int32_t FPosition = 0;
    std::optional<std::int64_t> FLastPump;
    std::optional<std::int64_t> FShownAt; // when the work began, for the elapsed time
    QList<QPointer<QWidget>> FWindowList;
};

} // namespace vantrel
