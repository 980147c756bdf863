// What a long operation reports to while it runs: the progress dialog of the
// desktop program, the terminal bar of the command-line tool, or nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantrel {

class TProgressSink
{
public:
    virtual ~TProgressSink() = default;
    virtual void SetCaption(const std::string& Text) = 0;
    virtual void SetText(const std::string& Text) = 0;
    // Makes the sink visible without blocking; Cancel works from then on.
    virtual void Show() = 0;
    // Percentage of the work done, normally 0 to 100; passed unclamped.
    virtual void SetPosition(std::int32_t Percent) = 0;
    // Delivers pending user input first, then tells whether the user asked to
    // stop. Stays true once it was true.
    virtual bool IsCancelled() = 0;
    // Whether a stopped operation keeps what it did so far: a user's Cancel
    // does; a stop for the program to end (a signal) does not.
    virtual bool KeepsStoppedWork() { return true; }
    // The file the work has come to: Index of Count, from 0.
    virtual void SetCurrentFile(const std::string& FileName, std::size_t Index, std::size_t Count)
    {
        (void)FileName, (void)Index, (void)Count;
    }
};

// Milliseconds on a clock that only moves forward.
using TClock = std::function<std::int64_t()>;
std::int64_t SteadyClockMs();

// "N seconds remaining", "N minutes remaining" below three hours, else
// "N hours remaining"; "1 second", "1 minute", "1 hour" for one.
std::string RemainingTimeText(std::int64_t Seconds);

// Estimates the time left from how long the last change of position took:
// that time, multiplied by the points still to go. Changes that come a second
// or less apart give no new estimate; the first change only starts the clock.
class TTimeEstimate
{
public:
    explicit TTimeEstimate(TClock Clock = SteadyClockMs) : m_Clock(std::move(Clock)) {}
    // Called when the position changed to Position; returns the new text
    // when there is one.
    std::optional<std::string> Update(std::int32_t Position);

private:
    TClock m_Clock;
    std::optional<std::int64_t> m_LastSample;
};

// A one-line bar on standard error while a join runs on a terminal; nothing
// shows unless Visible. Cancelled tells whether the work is to stop (a
// signal came).
class TTerminalProgress : public TProgressSink
{
public:
    TTerminalProgress(bool Visible, std::function<bool()> Cancelled)
        : m_Visible(Visible), m_Cancelled(std::move(Cancelled))
    {
    }
    ~TTerminalProgress() override;
    void SetCaption(const std::string& Text) override { m_Caption = Text; }
    void SetText(const std::string&) override {}
    // Its stops are signals, not a choice to keep half a file.
    bool KeepsStoppedWork() override { return false; }
    void Show() override;
    void SetPosition(std::int32_t Percent) override;
    bool IsCancelled() override { return m_Cancelled && m_Cancelled(); }

private:
    void Draw();

    bool m_Visible;
    std::function<bool()> m_Cancelled;
    bool m_Shown = false;
    std::string m_Caption;
    std::string m_Remaining;
    std::int32_t m_Percent = 0;
    TTimeEstimate m_Estimate;
};

} // namespace vantrel
