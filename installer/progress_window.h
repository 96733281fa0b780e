// The window the installer shows while it works: a title, an animation,
// three text lines, a progress bar with an estimated remaining time, and
// Cancel. The windows provide it; the installer only uses these operations.
#pragma once
#include <functional>
#include <string>

#include "platform/hresult.h"

class IProgressWindow {
 public:
  virtual ~IProgressWindow() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetAnimation(int resource) = 0;
  virtual void SetTimeDisplay(bool show) = 0;
  virtual void SetMinimizeButton(bool show) = 0;
  virtual void SetProgressBar(bool show) = 0;
  virtual void SetRange(unsigned start, unsigned total) = 0;
  virtual void SetPosition(unsigned value) = 0;
  virtual bool ShowModeless() = 0;
  // line is 1 to 3; with compact a path is shortened to fit.
  virtual void SetLine(int line, const std::string& text, bool compact) = 0;
  virtual bool HasUserCancelled() = 0;
  virtual void Stop() = 0;
  // Runs a step's command to its end and returns its result. A window keeps
  // answering meanwhile (it repaints, and Cancel is taken at once); without
  // one the command simply runs.
  virtual HRESULT Await(const std::function<HRESULT()>& command) { return command(); }
  // A step that failed, "what(0x%08x)": a window that can show it does.
  virtual void ShowFailedStep(const std::string& /*step*/) {}
};
