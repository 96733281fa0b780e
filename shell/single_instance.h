// One instance per user session: a lock file named after the instance GUID
// (flock, released by the kernel when its holder dies), and a local socket
// beside it through which a second start asks the first to raise its window.
//
// Both live in the runtime folder (shell/runtime_folder.h).
#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/hresult.h"
#include "platform/unique_fd.h"

inline constexpr char kInstanceGuid[] = "{C270BDA0-A00B-48BD-A6F7-7F491DCF995F}";

class CSingleInstance {
 public:
  static constexpr unsigned kRetryMs = 1000;

  CSingleInstance() = default;
  ~CSingleInstance();
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // S_OK when this process is now the instance; S_FALSE when it is to end
  // because a running instance raised its window; the failure (traced under
  // "CSingleInstance::Acquire") when the runtime folder is refused or the
  // lock file cannot be opened or locked. While another instance holds the
  // lock without a window, tries again every second.
  HRESULT Acquire();

  // Answers raise requests from later starts; raise() is called on the
  // answering thread and tells whether there is a window to raise.
  bool Serve(std::function<bool()> raise);
  // Stops answering.
  void StopServing();

  static std::string LockPath();
  static std::string SocketPath();

 private:
  // Asks the holder to raise its window; true when it did.
  static bool AskToRaise();
  void Answer();

  UniqueFd lock_;
  UniqueFd listener_;
  UniqueFd wake_[2];
  std::function<bool()> raise_;
  std::thread answering_;
};
