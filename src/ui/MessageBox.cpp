#include "ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace vantrel {

TMessageAnswer RunMessageBox(QWidget* Owner, const QString& Text, TMessageKind Kind, TMessageButtons Buttons,
                             TMessageAnswer Default)
{
    static const struct
    {
        const char* Title;
        QMessageBox::Icon Icon;
    } Kinds[] = {{"Warning", QMessageBox::Warning},
                 {"Information", QMessageBox::Information},
                 {"Confirm", QMessageBox::Question}};
    const auto& K = Kinds[static_cast<int>(Kind)];
    // The texts break lines with CR LF; a Qt label wants one LF per break.
    QString Shown = Text;
    Shown.replace("\r\n", "\n");
    QMessageBox Box(K.Icon, K.Title, Shown, QMessageBox::NoButton, Owner);
    QPushButton* SkipAll = nullptr;
    if (Buttons != TMessageButtons::Ok) {
        Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        if (Buttons == TMessageButtons::YesSkipAllNo)
            SkipAll = Box.addButton("&Skip All", QMessageBox::YesRole);
        Box.setDefaultButton(Default == TMessageAnswer::No ? QMessageBox::No : QMessageBox::Yes);
        Box.setEscapeButton(QMessageBox::No);
    } else {
        Box.setStandardButtons(QMessageBox::Ok);
        Box.setDefaultButton(QMessageBox::Ok);
        Box.setEscapeButton(QMessageBox::Ok);
    }
    const int Pressed = Box.exec();
    if (SkipAll && Box.clickedButton() == SkipAll)
        return TMessageAnswer::SkipAll;
    switch (Pressed) {
    case QMessageBox::Yes: return TMessageAnswer::Yes;
    case QMessageBox::Ok: return TMessageAnswer::Ok;
    default: return TMessageAnswer::No;
    }
}

void DismissOpenDialogs()
{
    for (QWidget* Open;
         (Open = QApplication::activePopupWidget()) || (Open = QApplication::activeModalWidget());) {
        if (auto* Box = qobject_cast<QMessageBox*>(Open); Box && Box->escapeButton())
            Box->escapeButton()->click();
        else if (auto* Dialog = qobject_cast<QDialog*>(Open))
            Dialog->reject();
        else
            Open->close();
        if (Open->isVisible())
            return; // it would not go; what follows ends regardless
    }
}

void BringToFront(QWidget& Window, QWidget* Holder)
{
    // As it was before it was minimised.
    if (Window.isMinimized())
        Window.setWindowState((Window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    Window.show();
    for (QWidget* Front : {&Window, Holder, QApplication::activeModalWidget()})
        if (Front) {
            Front->raise();
            Front->activateWindow();
        }
}

} // namespace vantrel
