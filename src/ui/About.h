// The About box: the product and its version, the maker's addresses and the
// copyright line.
#pragma once

#include "settings/SettingsStore.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace vantrel {

class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    TAboutForm(const TProductInfo& Info, QWidget* Owner);

    // The product line must fit this box; its font shrinks until it does.
    static constexpr int ProductWidth = 260, ProductHeight = 27;
    static constexpr int ProductPixelSize = 27, MinProductPixelSize = 8;

private:
    void lblMailClick();
    void lblSiteClick();
    void FitProductText();

    QLabel* ProductImage;
    QLabel* lblProduct;
    QLabel* lblMail;
    QLabel* lblSite;
    QLabel* lblCopyright;
    QPushButton* btnClose;

    QString FContactsAddress;
    QString FProductText;
    QString FSiteAddress;
    QString FCopyrightText;
};

// Shows the box modally over Owner and frees it when it closes.
void ShowAboutBox(const TProductInfo& Info, QWidget* Owner);

} // namespace vantrel
