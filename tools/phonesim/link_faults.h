// Faults of the line rather than the protocol, counted in reply frames.
#pragma once

namespace phonesim {

struct LinkFaults {
  int silenceAfterFrames = -1;  // replies after the first K are never sent
  int corruptFrame = -1;        // reply frame K (from 0) carries a bad check sequence
  int vanishAfterFrames = -1;   // the port disappears once K replies were sent
  int babbleAfterFrames = -1;   // once K replies were sent, bytes without a flag stream out without end
};

enum class ReplyAction { Send, Corrupt, Drop, Vanish, Babble };

// Decides the fate of each reply frame in turn.
class ReplyShaper {
 public:
  explicit ReplyShaper(LinkFaults faults) : faults_(faults) {}
  ReplyAction Next() {
    int n = sent_++;
    if (faults_.vanishAfterFrames >= 0 && n >= faults_.vanishAfterFrames) return ReplyAction::Vanish;
    if (faults_.babbleAfterFrames >= 0 && n >= faults_.babbleAfterFrames) return ReplyAction::Babble;
    if (faults_.silenceAfterFrames >= 0 && n >= faults_.silenceAfterFrames) return ReplyAction::Drop;
    if (n == faults_.corruptFrame) return ReplyAction::Corrupt;
    return ReplyAction::Send;
  }

 private:
  LinkFaults faults_;
  int sent_ = 0;
};

}  // namespace phonesim
