#include "tools/phonesim/sahara_session.h"

#include "tools/phonesim/time_scale.h"

namespace phonesim {
namespace {

void Append(SaharaSession::Out& out, const Bytes& bytes) {
  if (!bytes.empty()) out.emplace_back(bytes.begin(), bytes.end());
}

void Append(SaharaSession::Out& out, std::vector<std::string> documents) {
  for (std::string& d : documents) out.push_back(std::move(d));
}

}  // namespace

bool OpenSaharaLuns(const SaharaPhoneOptions& options, LunStore* store, std::string* error) {
  unsigned luns = options.firehose.ufs ? 6 : 1;
  std::string prefix = options.benchDir + "/firehose-" + std::to_string(options.index) + "-lun";
  return store->Open(prefix, luns, options.lunBytes, error);
}

SaharaSession::SaharaSession(const SaharaPhoneOptions& options, LunStore& store)
    : silent_(options.silent),
      dataTimeoutMs_(options.dataTimeoutMs),
      firehose_(options.firehose),
      store_(store),
      rom_(options.rom) {}

SaharaSession::Out SaharaSession::Hello() {
  Out out;
  if (silent_ || programmer_ || rom_.stage() != SaharaRom::Stage::AwaitHelloResp) return out;
  Append(out, rom_.Hello());
  return out;
}

SaharaSession::Out SaharaSession::Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now) {
  Out out;
  lastByte_ = now;
  if (silent_) return out;
  if (programmer_) {
    Append(out, programmer_->Feed(data, size));
    return out;
  }
  Append(out, rom_.Feed(data, size));
  if (rom_.stage() == SaharaRom::Stage::Handover) StartProgrammer(out);
  return out;
}

// The programmer's start-up logs, then its answers to whatever the host
// sent after DONE in the same bytes.
void SaharaSession::StartProgrammer(Out& out) {
  programmer_ = std::make_unique<FirehoseTarget>(firehose_, store_);
  Append(out, programmer_->StartUp());
  Bytes leftover = rom_.TakeLeftover();
  if (!leftover.empty()) Append(out, programmer_->Feed(leftover.data(), leftover.size()));
}

SaharaSession::Out SaharaSession::Idle(Clock::time_point now) {
  Out out;
  bool awaitingData = !programmer_ && rom_.stage() == SaharaRom::Stage::AwaitData;
  if (awaitingData && now - lastByte_ > std::chrono::milliseconds(ScaledMs(dataTimeoutMs_)))
    Append(out, rom_.ReceiveTimedOut());
  return out;
}

}  // namespace phonesim
