// One connected stream socket on the loop, for the sessions and the
// registration clients alike: it owns the descriptor, reads in bounded
// chunks, and queues what is answered up to a limit, so a peer that does not
// read is dropped rather than buffered for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "app/vindreld/event_loop.h"

namespace vindrel::daemon {

class StreamPeer : public Watcher {
public:
    enum class Gone { kClosed, kError, kNotReading };

    // `fd` is non-blocking and already on `loop`, watched for input.
    StreamPeer(EventLoop& loop, int fd, std::size_t max_pending, std::size_t read_per_turn);
    ~StreamPeer() override;

    void OnReady(std::uint32_t events) final;

    int fd() const { return fd_; }
    // Closes the descriptor; the owner has taken it off the loop.
    void Shut();

protected:
    virtual void OnBytes(std::span<const std::uint8_t> bytes) = 0;
    // The peer went, or reads nothing we send: the owner ends it. Nothing of
    // this object may be used by the caller afterwards but fd() and Shut().
    virtual void OnGone(Gone why) = 0;
    // All queued output is written.
    virtual void OnFlushed() {}
    virtual bool WantsInput() const { return true; }

    // Queues `bytes` and writes what the socket takes now.
    void Queue(std::span<const std::uint8_t> bytes);

private:
    void Flush();

    EventLoop& loop_;
    int fd_;
    std::size_t max_pending_, read_per_turn_;
    std::vector<std::uint8_t> out_;
    std::uint32_t watching_;
};

}  // namespace vindrel::daemon
