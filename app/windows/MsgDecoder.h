// The two texts of one record of the message ring: the raw line every record has, and the decoded
// line of the kinds this bus uses (node management, status, sensor, command, heartbeat). Single-byte
// Windows-1252 text (the degree sign is 0xB0); neither line ends in a line terminator.
#pragma once
#include <cstdint>
#include <string>

#include "protocol_server/Morvand.h"

class TRxMsgRing;

// The raw line of the ring's slot: slot index, time stamp, identifier, length code and the data
// bytes (at most 8).
std::string RawMsgText(const TRxMsgRing& ring, uint16_t slot);
// The decoded line of the ring's slot into text, with the time since the slot before it (the
// ring's last slot for slot 0); false for a kind the decoder does not know: the caller then shows
// RawMsgText (text is then of no use).
bool DecodeMsg(const TRxMsgRing& ring, uint16_t slot, std::string& text);

// The same for one record standing in the given slot, its predecessor stamped previousStamp.
std::string RawMsgText(uint16_t slot, const TRxMsg& msg);
bool DecodeMsg(uint16_t slot, const TRxMsg& msg, uint32_t previousStamp, std::string& text);
