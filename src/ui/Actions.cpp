#include "ui/Actions.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QToolBar>
#include <QWidget>

namespace vantrel {

QAction* MakeAction(QWidget& Owner, const char* Name, const QString& Caption, const QString& Icon,
                    std::function<void()> Handler, QList<QKeySequence> Keys)
{
    auto* Action = new QAction(Caption, &Owner);
    Action->setObjectName(Name);
    Action->setToolTip(QString(Caption).remove('&'));
    Action->setStatusTip(Action->toolTip());
    if (!Icon.isEmpty())
        Action->setIcon(QIcon(":/icons/" + Icon + ".svg"));
    Action->setShortcuts(Keys);
    QObject::connect(Action, &QAction::triggered, &Owner, std::move(Handler));
    Owner.addAction(Action);
    return Action;
}

QMenu* FillMenu(QMenu* Menu, const char* Name, std::initializer_list<QAction*> Actions)
{
    Menu->setObjectName(Name);
    for (QAction* Action : Actions)
        if (Action)
            Menu->addAction(Action);
        else
            Menu->addSeparator();
    return Menu;
}

void AddToolButtons(QToolBar& Bar, std::span<const std::pair<QAction*, const char*>> Buttons)
{
    Bar.setMovable(false);
    Bar.setFloatable(false);
    Bar.setIconSize(QSize(24, 24));
    Bar.setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const auto& [Action, Name] : Buttons) {
        if (!Action) {
            Bar.addSeparator();
            continue;
        }
        Bar.addAction(Action);
        QWidget* Button = Bar.widgetForAction(Action);
        Button->setObjectName(Name);
        Button->setFixedSize(34, 30);
    }
}

} // namespace vantrel
