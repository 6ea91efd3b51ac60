// Bytes from the line as the host's master reads them: the fuzzer's bytes go
// into a pipe (RTU) or a stream socket (TCP) and the frame readers take
// frames from them until none is left. Every RTU frame handed over is a
// well-formed one found in the bytes (a reply shape, a good CRC); frames,
// dropped bytes and bytes left add up to what was sent. Every TCP frame has
// protocol id 0 and the length its MBAP header gives.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "host/services/adu.h"
#include "host/services/frame_reader.h"

namespace {

using velmocair::fuzz::require;
using Bytes = std::vector<unsigned char>;

// Within a pipe's buffer, so that one write never blocks.
constexpr std::size_t kMaxInput = 4096;

void check_rtu(const Bytes& sent) {
  int ends[2];
  require(::pipe(ends) == 0);
  require(::write(ends[1], sent.data(), sent.size()) == static_cast<ssize_t>(sent.size()));
  // No silence and no grace: every byte is read at once, and the deadline
  // has passed, so each call ends when the bytes do (the pipe stays open: a
  // line that is silent, not one that hung up).
  sitehost::RtuFramer framer(ends[0], -1, sitehost::LineClock::duration::zero(),
                             sitehost::LineClock::duration::zero(), sent.empty() ? -1 : sent[0]);
  std::size_t framed = 0;
  while (true) {
    const sitehost::FrameRead read = framer.next(sitehost::LineClock::now());
    if (read.outcome != sitehost::FrameRead::frame) {
      break;
    }
    const sitehost::FoundFrame found = sitehost::find_rtu_frame(read.bytes, 0, true);
    require(found.found() && found.at == 0 && found.length == read.bytes.size());
    require(std::search(sent.begin(), sent.end(), read.bytes.begin(), read.bytes.end()) !=
            sent.end());
    framed += read.bytes.size();
  }
  require(framed + framer.dropped() + framer.left() == sent.size());
  ::close(ends[0]);
  ::close(ends[1]);
}

void check_tcp(const Bytes& sent) {
  int ends[2];
  require(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0);
  require(::write(ends[1], sent.data(), sent.size()) == static_cast<ssize_t>(sent.size()));
  ::shutdown(ends[1], SHUT_WR);
  std::size_t framed = 0;
  while (true) {
    const sitehost::FrameRead read = sitehost::read_tcp_frame(
        ends[0], -1, sitehost::LineClock::now(), sitehost::LineClock::duration::zero());
    if (read.outcome != sitehost::FrameRead::frame) {
      break;
    }
    const Bytes& adu = read.bytes;
    require(adu.size() >= 8 && adu[2] == 0 && adu[3] == 0 &&
            static_cast<std::size_t>(adu[4] << 8 | adu[5]) + 6 == adu.size());
    require(std::equal(adu.begin(), adu.end(), sent.begin() + static_cast<std::ptrdiff_t>(framed)));
    framed += adu.size();
  }
  ::close(ends[0]);
  ::close(ends[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes sent(data, data + std::min(size, kMaxInput));
  check_rtu(sent);
  check_tcp(sent);
  return 0;
}
