#include "ui/About.h"

#include "ui/ShellUtils.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

namespace vantrel {

namespace {

QLabel* LinkLabel(const QString& Name, QWidget* Parent)
{
    auto* Label = new QLabel(Parent);
    Label->setObjectName(Name);
    QFont Font = Label->font();
    Font.setUnderline(true);
    Label->setFont(Font);
    // The theme's own link colour: readable on a dark palette too.
    Label->setForegroundRole(QPalette::Link);
    Label->setCursor(Qt::PointingHandCursor);
    return Label;
}

// A label that reports a click of the left button.
class TClickFilter : public QObject
{
public:
    TClickFilter(QObject* Parent, std::function<void()> OnClick)
        : QObject(Parent), m_OnClick(std::move(OnClick))
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
            m_OnClick();
            return true;
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
    lblMail = LinkLabel("lblMail", this);
    lblMail->setText(FContactsAddress);
    lblMail->installEventFilter(new TClickFilter(lblMail, [this] { lblMailClick(); }));
    lblSite = LinkLabel("lblSite", this);
    lblSite->setText(FSiteAddress);
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
    Text->addSpacing(50);
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
    // The designed size, or more when the desktop's font needs it.
    resize(QSize(352, 243).expandedTo(sizeHint()));
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
    Box.exec();
}

} // namespace vantrel
