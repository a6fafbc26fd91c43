// Reading and writing session frames with a deadline.
#include "netbios/client/frame_stream.h"

#include <algorithm>
#include <cstring>

namespace vindrel::netbios {

bool SessionStream::Write(const Bytes& frame, net::Deadline deadline)
{
    // No frame is empty: an empty one is a builder's refusal.
    return !frame.empty() && stream_->WriteAll(frame, deadline);
}

bool SessionStream::ReadExact(std::uint8_t* out, std::size_t size, net::Deadline deadline)
{
    while (size > 0) {
        if (begin_ == end_) {
            begin_ = 0;
            end_ = stream_->ReadSome(buffer_, deadline);
            if (end_ == 0) return false;
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(out, buffer_.data() + begin_, n);
        begin_ += n;
        out += n;
        size -= n;
    }
    return true;
}

FrameRead SessionStream::ReadFrame(FrameHeader& frame, Bytes& body, net::Deadline deadline)
{
    for (int keepalives = 0;; ++keepalives) {
        // A peer that keeps the line busy with keep-alives is not answering.
        if (keepalives > keepalives_per_reply_) return FrameRead::kTooManyKeepAlives;
        std::uint8_t header[kFrameHeaderSize];
        if (!ReadExact(header, sizeof header, deadline)) return FrameRead::kEnded;
        if (!ParseFrameHeader(header, frame)) return FrameRead::kMalformed;
        if (frame.length > kMaxReplyFrame) return FrameRead::kTooLarge;
        body.resize(frame.length);
        if (!ReadExact(body.data(), body.size(), deadline)) return FrameRead::kEnded;
        if (frame.type != kKeepAlive) return FrameRead::kFrame;
    }
}

}  // namespace vindrel::netbios
