#include "ui/StatusBar.h"

#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>

namespace vantrel {

QString SelectionText(const std::vector<int>& Rows, const QString& First, const QString& Note)
{
    if (!Note.isEmpty())
        return Note;
    if (Rows.size() > 1)
        return QString("%1 files selected").arg(QLocale().toString(qulonglong(Rows.size())));
    if (!Rows.empty())
        return QFileInfo(First).fileName();
    return "There are no selected files."; // how many there are is the next panel's
}

TStatusPanels::TStatusPanels(QStatusBar& Bar) : m_Bar(Bar)
{
    for (int I = 0; I < 3; ++I) {
        m_Panels[I] = new QLabel(&Bar);
        m_Panels[I]->setObjectName(QString("StatusPanel%1").arg(I));
        m_Panels[I]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_Panels[I]->setFixedWidth(MinWidth);
        Bar.addWidget(m_Panels[I]);
    }
    m_Notice = new QLabel(&Bar);
    m_Notice->setObjectName("StatusNotice");
    m_Notice->hide();
    Bar.addPermanentWidget(m_Notice);
}

void TStatusPanels::SetNotice(const QString& Text)
{
    m_Notice->setText(Text);
    m_Notice->setVisible(!Text.isEmpty());
}

void TStatusPanels::Show(const QString (&Texts)[3], int Width)
{
    const QFontMetrics Metrics(m_Bar.font());
    int Widths[3];
    for (int I = 0; I < 3; ++I)
        Widths[I] = std::max(MinWidth, Metrics.horizontalAdvance(Texts[I]) + Padding);
    // The bar spans the window; what it holds besides the panels (margins,
    // the size grip) takes about 40 pixels.
    const int Notice = m_Notice->text().isEmpty() ? 0 : Metrics.horizontalAdvance(m_Notice->text()) + Padding;
    const int Room = Width - Widths[1] - Widths[2] - Notice - 40;
    Widths[0] = std::max(MinWidth, std::min(Widths[0], Room));
    for (int I = 0; I < 3; ++I) {
        m_Panels[I]->setFixedWidth(Widths[I]);
        const int TextWidth = Widths[I] - 2 * m_Panels[I]->frameWidth() - 2;
        m_Panels[I]->setText(
            Metrics.elidedText(Texts[I], I == 0 ? Qt::ElideMiddle : Qt::ElideRight, TextWidth));
        m_Panels[I]->setToolTip(Texts[I]);
    }
}

} // namespace vantrel
