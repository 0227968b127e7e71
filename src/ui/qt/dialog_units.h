#pragma once
// Dialog units to pixels, reckoned from the dialog's font as the Windows
// dialog manager reckons them, so that the window keeps the proportions of
// its template whatever the font.

#include <QFont>
#include <QRect>
#include <QSize>

namespace morvane {

class CDialogUnits {
public:
    // Base units from the font: x is the average width of the letters A-Z
    // and a-z, rounded; y is the font's height.
    explicit CDialogUnits(const QFont& font);
    CDialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    // A horizontal and a vertical measure; each is rounded on its own, as
    // the dialog manager rounds the position and the size of a control.
    int X(int du) const;
    int Y(int du) const;
    QRect Rect(int x, int y, int w, int h) const { return {X(x), Y(y), X(w), Y(h)}; }
    QSize Size(int w, int h) const { return {X(w), Y(h)}; }

private:
    int m_baseX;
    int m_baseY;
};

}  // namespace morvane
