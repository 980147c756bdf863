#include "ProgressDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

TfrmProgress::TfrmProgress(QWidget* Owner, TClock Clock)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), FClock(Clock),
      FEstimate(std::move(Clock))
{
    setObjectName("frmProgress");
    setWindowTitle("Processing...");
    setModal(false);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setMidLineWidth(1);
    lblText = new QLabel(Panel1);
    lblText->setObjectName("lblText");
    ProgressBar = new QProgressBar(Panel1);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(true); // the percentage, on the bar
    ProgressBar->setFixedSize(340, 16);
    lblTime = new QLabel(Panel1);
    lblTime->setObjectName("lblTime");

    auto* PanelLayout = new QVBoxLayout(Panel1);
    PanelLayout->setContentsMargins(15, 10, 15, 10);
    PanelLayout->setSpacing(10);
    PanelLayout->addWidget(lblText);
    PanelLayout->addWidget(ProgressBar);
    PanelLayout->addWidget(lblTime);

    btnMinimize = new QPushButton("Minimize", this);
    btnMinimize->setObjectName("btnMinimize");
    btnMinimize->setVisible(false);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setFixedSize(75, 25);
    btnCancel->setAutoDefault(false);
    btnCancel->setFocusPolicy(Qt::ClickFocus); // skipped by Tab
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
    connect(btnMinimize, &QPushButton::clicked, this, &TfrmProgress::btnMinimizeClick);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(btnMinimize);
    Buttons->addWidget(btnCancel);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(10, 10, 10, 9);
    Layout->addWidget(Panel1);
    Layout->addLayout(Buttons);
    setMinimumSize(392, 148);
    resize(392, 148);
}

TfrmProgress::~TfrmProgress()
{
    // Freeing hides first, which gives the other windows back.
    if (isVisible())
        hide();
    EnableDisabledWindows();
}

void TfrmProgress::SetCaption(const std::string& Text)
{
    setWindowTitle(QString::fromStdString(Text));
}

void TfrmProgress::SetText(const std::string& Text)
{
    lblText->setText(QString::fromStdString(Text));
}

void TfrmProgress::SetPosition(std::int32_t Position)
{
    if (Position == FPosition)
        return;
    ProgressBar->setValue(std::clamp(Position, 0, 100));
    FPosition = Position;
    if (const auto Text = FEstimate.Update(Position))
        lblTime->setText(QString::fromStdString(*Text));
}

bool TfrmProgress::IsCancelled()
{
    const std::int64_t Now = FClock();
    if (!FLastPump || Now - *FLastPump >= PumpIntervalMs) {
        FLastPump = Now;
        QCoreApplication::processEvents();
    }
    return FCancelled;
}

void TfrmProgress::showEvent(QShowEvent* Event)
{
    FCancelled = false;
    FPosition = 0;
    DisableOtherWindows();
    QDialog::showEvent(Event);
}

void TfrmProgress::hideEvent(QHideEvent* Event)
{
    EnableDisabledWindows();
    QDialog::hideEvent(Event);
}

void TfrmProgress::closeEvent(QCloseEvent* Event)
{
    // Closing is asking to stop; the work sees it at its next poll.
    FCancelled = true;
    Event->accept();
}

void TfrmProgress::keyPressEvent(QKeyEvent* Event)
{
    // Esc does not press Cancel: a stray key must not stop a long join.
    if (Event->key() == Qt::Key_Escape) {
        Event->ignore();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void TfrmProgress::btnCancelClick()
{
    FCancelled = true;
}

void TfrmProgress::DisableOtherWindows()
{
    for (QWidget* Window : QApplication::topLevelWidgets()) {
        if (Window == this || !Window->isVisible() || !Window->isEnabled())
            continue;
        Window->setEnabled(false);
        FWindowList.append(Window);
    }
    // Disabling the owner disables its children, this dialog among them.
    setEnabled(true);
}

void TfrmProgress::EnableDisabledWindows()
{
    for (const QPointer<QWidget>& Window : std::exchange(FWindowList, {}))
        if (Window)
            Window->setEnabled(true);
}

} // namespace vantrel
