// The main window's status bar: three panels that keep their places.
#pragma once

#include <QString>

#include <vector>

class QLabel;
class QStatusBar;

namespace vantrel {

// The first panel's text: Note where there is one (a menu item's tip, the
// last join's result), else the selection: the name of its one file (First,
// the file of its first row), how many are selected, or that none is.
QString SelectionText(const std::vector<int>& Rows, const QString& First, const QString& Note);

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
