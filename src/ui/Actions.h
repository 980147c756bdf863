// The window's commands made one way: an action with its caption, hints,
// icon and keys; a menu filled in order; tool buttons of one size.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <functional>
#include <initializer_list>
#include <span>
#include <utility>

class QAction;
class QMenu;
class QToolBar;
class QWidget;

namespace vantrel {

// An action of Owner named Name: the caption carries the menu's mnemonic,
// the tool tip and status tip show it without; Icon names one of the
// program's icons (none when empty). Its keys work while Owner is active.
QAction* MakeAction(QWidget& Owner, const char* Name, const QString& Caption, const QString& Icon,
                    std::function<void()> Handler, QList<QKeySequence> Keys = {});

// Menu named Name, holding Actions in order; a null one is a separator.
QMenu* FillMenu(QMenu* Menu, const char* Name, std::initializer_list<QAction*> Actions);

// Bar as the window has it (fixed, icons only) with a button for each
// action, named as given, all of one size; a null action is a separator.
void AddToolButtons(QToolBar& Bar, std::span<const std::pair<QAction*, const char*>> Buttons);

} // namespace vantrel
