// A split button: its face runs its own command; its drop arrow opens a menu
// that starts with the button's own command as the default (bold) item,
// followed by the items of the menu it was given.
#pragma once
#include <QMenu>
#include <QToolButton>

class CAutoMenuButton : public QToolButton {
  Q_OBJECT

 public:
  explicit CAutoMenuButton(const QString& text, QWidget* parent = nullptr);

  // Shows menu's actions after the button's own command. The menu stays the
  // caller's; the button keeps its own popup.
  void SetMenu(QMenu* menu);
  QMenu* Popup() { return &popup_; }
  QAction* OwnCommand() { return &own_; }

 signals:
  // The face or the first menu item.
  void Command();

 private:
  QMenu popup_;
  QAction own_;
};
