#include "ui/About.h"

#include "settings/SettingsStore.h"
#include "ui/ShellUtils.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

namespace vantrel {

namespace {

// An address as a link: the theme's own link colour (readable on a dark
// palette too), reached with Tab (a frame shows it has the focus) and opened
// with Enter or Space as well as a click.
QLabel* LinkLabel(const QString& Name, const QString& Address, QWidget* Parent)
{
    auto* Label = new QLabel(Address, Parent);
    Label->setObjectName(Name);
    QFont Font = Label->font();
    Font.setUnderline(true);
    Label->setFont(Font);
    Label->setForegroundRole(QPalette::Link);
    Label->setCursor(Qt::PointingHandCursor);
    Label->setFocusPolicy(Qt::TabFocus);
    Label->setLineWidth(1);
    Label->setContentsMargins(1, 1, 1, 1); // the room of the focus frame
    // A framed label indents its text by half an "x": the address would
    // jump sideways as the focus comes and goes.
    Label->setIndent(0);
    return Label;
}

// A label that reports a click of the left button, and Enter or Space
// while it has the focus.
class TClickFilter : public QObject
{
public:
    TClickFilter(QObject* Parent, std::function<void()> OnClick)
        : QObject(Parent), m_OnClick(std::move(OnClick))
    {
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
            m_OnClick();
            return true;
        }
        // A label on its way out (the box closing) is no label any more.
        auto* Label = qobject_cast<QLabel*>(Watched);
        if (Label && (Event->type() == QEvent::FocusIn || Event->type() == QEvent::FocusOut)) {
            const bool Focused = Event->type() == QEvent::FocusIn;
            Label->setFrameStyle(Focused ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
            // The frame's width comes out of the margins it is drawn in,
            // which are set again after each change of the frame.
            Label->setContentsMargins(1, 1, 1, 1);
        }
        if (Event->type() == QEvent::KeyPress) {
            const int Key = static_cast<QKeyEvent*>(Event)->key();
            if (Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Space) {
                m_OnClick();
                return true;
            }
        }
        return false;
    }

private:
    std::function<void()> m_OnClick;
};

} // namespace

TAboutForm::TAboutForm(const TProductInfo& Info, QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FContactsAddress(Info.Contacts), FProductText(Info.ProductName + " " + Info.Version),
      FSiteAddress(Info.WebSite), FCopyrightText(Info.Copyright)
{
    setObjectName("AboutForm");
    setWindowTitle("About");

    ProductImage = new QLabel(this);
    ProductImage->setObjectName("ProductImage");
    ProductImage->setFixedSize(32, 32);
    ProductImage->setPixmap(QApplication::windowIcon().pixmap(32, 32));

    lblProduct = new QLabel(FProductText, this);
    lblProduct->setObjectName("lblProduct");
    FitProductText();

    auto* Label2 = new QLabel("Contacts:", this);
    auto* Label3 = new QLabel("Website:", this);
    lblMail = LinkLabel("lblMail", FContactsAddress, this);
    lblMail->installEventFilter(new TClickFilter(lblMail, [this] { lblMailClick(); }));
    lblSite = LinkLabel("lblSite", FSiteAddress, this);
    lblSite->installEventFilter(new TClickFilter(lblSite, [this] { lblSiteClick(); }));

    auto* Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    lblCopyright = new QLabel(FCopyrightText, this);
    lblCopyright->setObjectName("lblCopyright");
    lblCopyright->setAlignment(Qt::AlignCenter);
    QFont Small = lblCopyright->font();
    if (Small.pointSizeF() > 0)
        Small.setPointSizeF(Small.pointSizeF() * 0.9);
    lblCopyright->setFont(Small);

    btnClose = new QPushButton("Close", this);
    btnClose->setObjectName("btnClose");
    btnClose->setDefault(true); // Enter; Esc rejects, which closes as well
    btnClose->setMinimumSize(75, 25);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto* Addresses = new QGridLayout;
    Addresses->setHorizontalSpacing(8);
    Addresses->addWidget(Label2, 0, 0);
    Addresses->addWidget(lblMail, 0, 1);
    Addresses->addWidget(Label3, 1, 0);
    Addresses->addWidget(lblSite, 1, 1);
    Addresses->setColumnStretch(1, 1);

    auto* Text = new QVBoxLayout;
    Text->addWidget(lblProduct);
    Text->addSpacing(12);
    Text->addLayout(Addresses);
    auto* Top = new QHBoxLayout;
    Top->addWidget(ProductImage, 0, Qt::AlignTop);
    Top->addSpacing(20);
    Top->addLayout(Text, 1);

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(18, 16, 18, 13);
    Layout->addLayout(Top);
    Layout->addSpacing(12);
    Layout->addWidget(Bevel1);
    Layout->addWidget(lblCopyright);
    Layout->addSpacing(16);
    Layout->addWidget(btnClose, 0, Qt::AlignHCenter);
    btnClose->setFocus();
    // Close first, then the two addresses.
    setTabOrder(btnClose, lblMail);
    setTabOrder(lblMail, lblSite);
    // The designed width, or more when the desktop's font needs it; as high
    // as its texts, with no empty band between them.
    resize(QSize(352, sizeHint().height()).expandedTo(sizeHint()));
}

void TAboutForm::FitProductText()
{
    QFont Font = lblProduct->font();
    Font.setBold(true);
    Font.setUnderline(true);
    for (int Size = ProductPixelSize; Size >= MinProductPixelSize; --Size) {
        Font.setPixelSize(Size);
        const QSize Text = QFontMetrics(Font).size(Qt::TextSingleLine, FProductText);
        if (Text.width() <= ProductWidth && Text.height() <= ProductHeight)
            break;
    }
    lblProduct->setFont(Font);
}

void TAboutForm::lblMailClick()
{
    ShellOpen(FContactsAddress);
}

void TAboutForm::lblSiteClick()
{
    ShellOpen(FSiteAddress);
}

void ShowAboutBox(const TProductInfo& Info, QWidget* Owner)
{
    TAboutForm Box(Info, Owner);
    FitOnScreen(Box, Owner);
    Box.exec();
}

} // namespace vantrel
