// Session frames over a TCP stream: writes whole frames and reads the next
// reply frame, each within a deadline and with keep-alives bounded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "netbios/codec/session_frame.h"
#include "netbios/codec/wire.h"
#include "platform/network.h"

namespace vindrel::netbios {

enum class FrameRead {
    kFrame,
    kEnded,           // the peer closed, an error, or the deadline passed
    kMalformed,       // a header with flag bits no frame has
    kTooLarge,        // longer than any reply of ours (kMaxReplyFrame)
    kTooManyKeepAlives,
};

class SessionStream {
public:
    SessionStream(std::unique_ptr<net::TcpStream> stream, int keepalives_per_reply)
        : stream_(std::move(stream)), keepalives_per_reply_(keepalives_per_reply)
    {
    }

    // False for an empty frame (a builder refused it), without writing.
    bool Write(const Bytes& frame, net::Deadline deadline);

    // The next frame other than a keep-alive, its body read in full into
    // `body`.
    FrameRead ReadFrame(FrameHeader& frame, Bytes& body, net::Deadline deadline);

private:
    bool ReadExact(std::uint8_t* out, std::size_t size, net::Deadline deadline);

    std::unique_ptr<net::TcpStream> stream_;
    int keepalives_per_reply_;
    std::array<std::uint8_t, 512> buffer_{};
    std::size_t begin_ = 0, end_ = 0;  // bytes read ahead, not yet taken
};

}  // namespace vindrel::netbios
