// Bounds-checked reading and building of the fixed-width fields of NetBIOS
// (big-endian) and SMB (little-endian) packets. Every read checks what is
// left before it touches a byte, so no reply can make a parser overrun.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vindrel::netbios {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class Reader {
public:
    explicit Reader(ByteView data) : data_(data) {}

    std::size_t remaining() const { return data_.size() - pos_; }
    std::size_t position() const { return pos_; }

    // Each read either succeeds whole or returns false and leaves the
    // position where it was.
    bool Skip(std::size_t n)
    {
        if (n > remaining()) return false;
        pos_ += n;
        return true;
    }
    bool U8(std::uint8_t& v)
    {
        if (remaining() < 1) return false;
        v = data_[pos_++];
        return true;
    }
    bool U16be(std::uint16_t& v)
    {
        if (remaining() < 2) return false;
        v = static_cast<std::uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
        pos_ += 2;
        return true;
    }
    bool U16le(std::uint16_t& v)
    {
        if (remaining() < 2) return false;
        v = static_cast<std::uint16_t>(data_[pos_ + 1] << 8 | data_[pos_]);
        pos_ += 2;
        return true;
    }
    bool U32be(std::uint32_t& v)
    {
        if (remaining() < 4) return false;
        v = static_cast<std::uint32_t>(data_[pos_]) << 24 |
            static_cast<std::uint32_t>(data_[pos_ + 1]) << 16 |
            static_cast<std::uint32_t>(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
        pos_ += 4;
        return true;
    }
    bool U32le(std::uint32_t& v)
    {
        if (remaining() < 4) return false;
        v = static_cast<std::uint32_t>(data_[pos_ + 3]) << 24 |
            static_cast<std::uint32_t>(data_[pos_ + 2]) << 16 |
            static_cast<std::uint32_t>(data_[pos_ + 1]) << 8 | data_[pos_];
        pos_ += 4;
        return true;
    }
    bool Take(std::size_t n, ByteView& out)
    {
        if (n > remaining()) return false;
        out = data_.subspan(pos_, n);
        pos_ += n;
        return true;
    }
    // The bytes up to a NUL, at most `longest` of them; the NUL is read too.
    bool UntilNul(std::size_t longest, ByteView& text)
    {
        const ByteView rest = data_.subspan(pos_);
        const auto length = static_cast<std::size_t>(
            std::find(rest.begin(), rest.end(), std::uint8_t{0}) - rest.begin());
        if (length == rest.size() || length > longest) return false;
        text = rest.first(length);
        pos_ += length + 1;
        return true;
    }

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

// A length or count that does not fit its field spoils the packet: Take()
// then gives nothing, never a count that lies about what follows it. No
// packet of ours is empty, so an empty one is always a refusal.
class Writer {
public:
    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16be(std::uint16_t v)
    {
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
        out_.push_back(static_cast<std::uint8_t>(v));
    }
    void U16le(std::uint16_t v)
    {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32be(std::uint32_t v)
    {
        U16be(static_cast<std::uint16_t>(v >> 16));
        U16be(static_cast<std::uint16_t>(v));
    }
    void U32le(std::uint32_t v)
    {
        U16le(static_cast<std::uint16_t>(v));
        U16le(static_cast<std::uint16_t>(v >> 16));
    }
    void Append(ByteView bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    // A part built on its own (a record's data, a message's bytes): what did
    // not fit there spoils this packet too.
    void Append(const Writer& part)
    {
        fits_ = fits_ && part.fits_;
        Append(ByteView(part.out_));
    }
    void Fill(std::uint8_t v, std::size_t n) { out_.insert(out_.end(), n, v); }
    void Count8(std::size_t n)
    {
        if (n > 0xFF) fits_ = false;
        U8(static_cast<std::uint8_t>(n));
    }

    std::size_t size() const { return out_.size(); }

    // A 16-bit length known only once the body after it is written: reserve
    // it, then patch in the count of bytes written after it.
    std::size_t Reserve16()
    {
        out_.push_back(0);
        out_.push_back(0);
        return out_.size() - 2;
    }
    void PatchLength16be(std::size_t at) { PatchLength16(at, at, at + 1); }
    void PatchLength16le(std::size_t at) { PatchLength16(at, at + 1, at); }

    Bytes Take() { return fits_ ? std::move(out_) : Bytes{}; }

private:
    void PatchLength16(std::size_t at, std::size_t high, std::size_t low)
    {
        if (at + 2 > out_.size() || out_.size() - at - 2 > 0xFFFF) {
            fits_ = false;
            return;
        }
        const std::size_t v = out_.size() - at - 2;
        out_[high] = static_cast<std::uint8_t>(v >> 8);
        out_[low] = static_cast<std::uint8_t>(v);
    }

    Bytes out_;
    bool fits_ = true;
};

}  // namespace vindrel::netbios
