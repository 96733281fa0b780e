#include "ui/auto_menu_button.h"

CAutoMenuButton::CAutoMenuButton(const QString& text, QWidget* parent)
    : QToolButton(parent), own_(text) {
  setText(text);
  setPopupMode(QToolButton::MenuButtonPopup);
  setToolButtonStyle(Qt::ToolButtonTextOnly);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  QFont bold = own_.font();
  bold.setBold(true);
  own_.setFont(bold);
  popup_.addAction(&own_);
  popup_.setDefaultAction(&own_);
  setMenu(&popup_);
  connect(this, &QToolButton::clicked, this, &CAutoMenuButton::Command);
  connect(&own_, &QAction::triggered, this, &CAutoMenuButton::Command);
}

void CAutoMenuButton::SetMenu(QMenu* menu) {
  for (QAction* action : popup_.actions())
    if (action != &own_) popup_.removeAction(action);
  if (menu) popup_.addActions(menu->actions());
}
