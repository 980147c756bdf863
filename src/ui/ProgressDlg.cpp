#include "ui/ProgressDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

QString ClockText(double Seconds)
{
    const auto S = static_cast<long long>(Seconds + 0.5);
    return QString("%1:%2:%3")
        .arg(S / 3600)
        .arg(S / 60 % 60, 2, 10, QChar('0'))
        .arg(S % 60, 2, 10, QChar('0'));
}

QString TimeLeftText(std::int64_t ElapsedMs, std::int32_t Position)
{
    if (ElapsedMs < SteadyAfterMs || Position < SteadyAfterPercent || Position >= 100)
        return {};
    const double Left = static_cast<double>(ElapsedMs) / 1000 * (100 - Position) / Position;
    return "about " + ClockText(Left) + " left";
}

TfrmProgress::TfrmProgress(QWidget* Owner, TClock Clock)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), FClock(std::move(Clock))
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
    lblFile = new QLabel(Panel1);
    lblFile->setObjectName("lblFile");
    lblFile->setTextFormat(Qt::PlainText);
    lblFile->setMinimumWidth(1); // a long name is elided, not widening the dialog
    lblTime = new QLabel(Panel1);
    lblTime->setObjectName("lblTime");
    lblElapsed = new QLabel(Panel1);
    lblElapsed->setObjectName("lblElapsed");
    lblElapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* Times = new QHBoxLayout;
    Times->addWidget(lblTime);
    Times->addWidget(lblElapsed);

    auto* PanelLayout = new QVBoxLayout(Panel1);
    PanelLayout->setContentsMargins(15, 10, 15, 10);
    PanelLayout->setSpacing(10);
    PanelLayout->addWidget(lblText);
    PanelLayout->addWidget(lblFile);
    PanelLayout->addWidget(ProgressBar);
    PanelLayout->addLayout(Times);

    btnMinimize = new QPushButton("Minimize", this);
    btnMinimize->setObjectName("btnMinimize");
    btnMinimize->setVisible(false);
    // Esc, Alt+C, or Tab to the button and Space: each stops the join, which
    // keeps what it joined so far.
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setMinimumSize(75, 25);
    btnCancel->setAutoDefault(false);
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
    resize(sizeHint().expandedTo(minimumSize()));
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

void TfrmProgress::SetCurrentFile(const std::string& FileName, std::size_t Index, std::size_t Count)
{
    const QString Name = QFileInfo(QString::fromLocal8Bit(FileName)).fileName();
    const QString Text =
        QString("File %1 of %2: %3")
            .arg(QLocale().toString(qulonglong(Index + 1)), QLocale().toString(qulonglong(Count)), Name);
    lblFile->setToolTip(Text);
    lblFile->setText(lblFile->fontMetrics().elidedText(Text, Qt::ElideMiddle, ProgressBar->width()));
}

void TfrmProgress::SetPosition(std::int32_t Position)
{
    if (Position == FPosition)
        return;
    ProgressBar->setValue(std::clamp(Position, 0, 100));
    FPosition = Position;
    if (FShownAt)
        lblTime->setText(TimeLeftText(FClock() - *FShownAt, Position));
}

bool TfrmProgress::IsCancelled()
{
    const std::int64_t Now = FClock();
    if (!FLastPump || Now - *FLastPump >= PumpIntervalMs) {
        FLastPump = Now;
        if (FShownAt)
            lblElapsed->setText(ClockText(static_cast<double>((Now - *FShownAt) / 1000)) + " elapsed");
        QCoreApplication::processEvents();
    }
    return FCancelled;
}

void TfrmProgress::showEvent(QShowEvent* Event)
{
    FCancelled = false;
    FPosition = 0;
    FShownAt = FClock();
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
    if (Event->key() == Qt::Key_Escape) {
        btnCancelClick();
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
