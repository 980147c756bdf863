// The modal message box that every prompt and error of the main window uses.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vantrel {

enum class TMessageKind
{
    Warning,
    Information,
    Confirmation
};
enum class TMessageButtons
{
    YesNo,
    Ok,
    YesSkipAllNo // go on, go on without asking again, stop
};
enum class TMessageAnswer
{
    Yes,
    No,
    Ok,
    SkipAll
};

// Answers a message box instead of a person (tests); empty: a real box.
using TMessageBoxHandler = std::function<TMessageAnswer(const QString& Text, TMessageKind, TMessageButtons)>;

// Shows Text modally over Owner with the kind's title ("Warning",
// "Information", "Confirm") and icon; line breaks are CR LF. Escape answers No
// in a Yes/No box and OK in an OK box; Default is the button Enter presses.
TMessageAnswer RunMessageBox(QWidget* Owner, const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                             TMessageAnswer Default = TMessageAnswer::Yes);

// Takes back every menu, message box and dialog that is open, top first, as
// Escape would: the program is ending and nobody is there to answer them.
void DismissOpenDialogs();

// Brings Window up, restored when minimised, to the front and active, with
// whatever holds it (Holder: a join's progress, and an open question).
void BringToFront(QWidget& Window, QWidget* Holder);

} // namespace vantrel
