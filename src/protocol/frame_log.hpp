#pragma once

// The per-frame log: one line of text for every frame a program sends and
// receives on its adapters, for a person following a session live (the
// command line's --verbose). Like the session recording it sits at the link
// seam, as a PacketDriver that wraps another one, so it logs the same on real
// adapters and on the simulated segment; unlike the recording it needs the
// protocol's code names, so it lives above the link.
//
// A line never holds a password's characters: of the password field it says
// only whether the field is filled, and data areas (where a set-password
// block carries the new one) are never shown.

#include "link/frame_tap.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

enum class FrameDirection { Sent, Received };

// One line, without a line end, for one frame:
//   "14:02:07.125 sent sim0 to FF-FF-FF-FF-FF-FF discover (0x1001) status 0, 41 bytes"
//   "14:02:07.126 received sim0 from 02-19-A7-00-00-01 discover reply (0x1002) status 2, 170 bytes"
// `timeOfDay` is the time since midnight, shown as HH:MM:SS.mmm. The peer is
// the destination of a sent frame and the source of a received one. Frames
// of another EtherType get a short description ("ARP"); a frame too short
// for a field simply lacks it in the line. Nothing past the frame's end is read.
std::string FormatFrameLogLine(std::chrono::milliseconds timeOfDay, FrameDirection direction,
                               std::string_view adapter, std::span<const std::uint8_t> frame);

// A driver whose opened ports log, through `sink`, every frame they send and
// deliver. Ports may send from several threads while the receive thread
// delivers: the sink is called by one of them at a time, with whole lines,
// in the order the frames passed. It is called before a frame is handed to
// the adapter, so a reply never shows before its request; a send the
// adapter then refuses gets a line of its own.
class FrameLogDriver : public TappingDriver {
  public:
    using Sink = std::function<void(const std::string& line)>;

    FrameLogDriver(PacketDriver& inner, Sink sink);
};

} // namespace korvane
