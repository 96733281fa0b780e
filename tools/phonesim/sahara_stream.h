// A Sahara/Firehose phone's boot as the byte stream the USB relay carries:
// the host's bytes feed the session, and what the phone says waits here
// until the relay takes it, one transfer a write (one Firehose document a
// transfer, as a real programmer sends them). HELLO is said at once: on USB
// it waits on the IN endpoint until the host's driver reads it. Once the
// boot ended (a power reset, a phone that vanished) and everything said
// went out, the stream ends: the phone leaves the bus.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "tools/phonesim/sahara_session.h"
#include "tools/phonesim/usb_relay.h"

namespace phonesim {

class SaharaStream final : public PhoneStream {
 public:
  // The session outlives the stream.
  explicit SaharaStream(SaharaSession& session);

  bool Read(std::vector<std::uint8_t>* chunk) override;
  bool Write(const std::uint8_t* data, std::size_t size) override;
  std::size_t Awaited() const override;

 private:
  void Queue(SaharaSession::Out writes);

  SaharaSession& session_;
  mutable std::mutex mutex_;
  std::condition_variable said_;
  std::deque<std::string> queue_;
};

}  // namespace phonesim
