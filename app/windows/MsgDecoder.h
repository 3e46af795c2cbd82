// The two texts of one record of the message ring: the raw line every record has, and the decoded
// line of the kinds this bus uses (node management, status, sensor, command, heartbeat). Single-byte
// Windows-1252 text (the degree sign is 0xB0); neither line ends in a line terminator.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "protocol_server/Morvand.h"

// Slot index, time stamp, identifier, length code and the data bytes (at most 8) of records[slot].
// A slot outside the ring gives an empty text.
std::string RawMsgText(std::span<const TRxMsg> records, uint16_t slot);

// The decoded line of records[slot] into text, with the time since the slot before it (the ring's
// last slot for slot 0); false for a kind the decoder does not know (the caller then shows
// RawMsgText) or a slot outside the ring.
bool DecodeMsg(std::span<const TRxMsg> records, uint16_t slot, std::string& text);
