#include "ui/qt/dialog_units.h"

#include <QFontMetrics>

namespace morvane {
namespace {

// a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int CDialogUnits::X(int du) const { return MulDiv(du, m_baseX, 4); }
int CDialogUnits::Y(int du) const { return MulDiv(du, m_baseY, 8); }

}  // namespace morvane
