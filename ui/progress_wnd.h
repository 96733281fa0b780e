// The installer's progress window over QProgressDialog: a title, an
// animation, three text lines (paths shortened to fit when asked), a progress
// bar with an estimated remaining time, and Cancel; Esc and the close box
// cancel as Cancel does. The installer runs on the main thread: every update
// lets the event loop paint and take clicks, and a step's command runs on a
// thread of its own while the loop turns.
#pragma once
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressDialog>
#include <array>
#include <memory>

#include "installer/progress_window.h"

class CSHProgressWnd : public IProgressWindow {
 public:
  // Start options of the dialog.
  enum Options : unsigned {
    kTimeShown = 0x2,
    kNoTime = 0x4,
    kNoMinimize = 0x8,
    kNoProgressBar = 0x10,
  };

  CSHProgressWnd();
  ~CSHProgressWnd() override;

  void SetTitle(const std::string& title) override;
  void SetAnimation(int resource) override;
  void SetTimeDisplay(bool show) override;
  void SetMinimizeButton(bool show) override;
  void SetProgressBar(bool show) override;
  void SetRange(unsigned start, unsigned total) override;
  void SetPosition(unsigned value) override;
  bool ShowModeless() override;
  void SetLine(int line, const std::string& text, bool compact) override;
  bool HasUserCancelled() override;
  void Stop() override;
  // While shown: runs the command on a thread of its own and keeps the event
  // loop turning until it ends, so the window paints and takes Cancel.
  HRESULT Await(const std::function<HRESULT()>& command) override;

  bool Shown() const { return shown_; }
  unsigned OptionsInForce() const { return options_; }
  int CloseCount() const { return closes_; }
  QProgressDialog* Dialog() { return dialog_.get(); }
  QString LineText(int line) const;
  QString RemainingText() const;

 private:
  class Content;
  void Update();

  std::unique_ptr<QProgressDialog> dialog_;
  Content* content_ = nullptr;
  bool created_ = false;
  bool shown_ = false;
  unsigned options_ = 0;
  unsigned total_ = 0;
  int closes_ = 0;
  QElapsedTimer running_;
};
