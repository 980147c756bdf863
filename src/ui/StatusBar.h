// The main window's status bar: three panels that keep their places.
#pragma once

#include <QString>

class QLabel;
class QStatusBar;

namespace vantrel {

class TStatusPanels
{
public:
    // Adds the panels "StatusPanel0" to "StatusPanel2" to Bar.
    explicit TStatusPanels(QStatusBar& Bar);

    // Each panel as wide as its text and 10 pixels, at least 50; when the
    // three do not fit in Width, the first gives way and shows its text
    // elided in the middle. The whole text is each panel's tip.
    void Show(const QString (&Texts)[3], int Width);
    // A notice at the bar's right end, after the panels; none when empty.
    void SetNotice(const QString& Text);

    static constexpr int MinWidth = 50, Padding = 10;

private:
    QStatusBar& m_Bar;
    QLabel* m_Panels[3];
    QLabel* m_Notice;
};

} // namespace vantrel
