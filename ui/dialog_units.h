// Dialog units: a quarter of the font's average character width across, an
// eighth of its height down, so the windows keep their proportions with any
// font.
#pragma once
#include <QFont>
#include <QFontMetrics>

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    baseX_ = metrics.averageCharWidth();
    baseY_ = metrics.height();
  }
  int x(int units) const { return (units * baseX_ + 2) / 4; }
  int y(int units) const { return (units * baseY_ + 4) / 8; }

 private:
  int baseX_, baseY_;
};
