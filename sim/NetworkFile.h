// The description file of the simulated network (an ini file):
//
//   [Network]
//   Nodes = 21, 22, 30, 127        the nodes on the bus: devices 21..125, the controller 127
//   HeartbeatMs = 1000             periods for every node (0: never sent); a node's own section
//   StatusMs = 1000                may override each of them
//   AnalogMs = 2000
//   SystemMs = 2000                the controller's system frame
//   ResponseUs = 400               from a request to the answer
//
//   [Node21]
//   Version = 0x4601               firmware version word
//   State = operational            or preoperational: the state after boot-up
//   Master = 21                    group master (itself: heads a group; 127: under the controller)
//   SetPoint = 21                  status values: SetPoint -64..63, Mode 0..7, Offset -4..3,
//   Mode = 1                       Fan 0..3, FL 0..15, LG 0..7, LD 0..7, KY 0..15, LA 0..15,
//   Fan = 2                        Flags and Inputs 0..255 (status bytes 6 and 7)
//   Sensors = 21.5, 45.0, 30.2, 8.0       the four analog values in degrees
//   Params2006 = 10 values 0..127         objects 0x2006 and 0x2007 sub-index 1..10
//   Params2007 = 10 values -128..127
//   SystemValues = 85, 450, 1             controller: system words 1 and 2, the system byte 0..255
//
// Numbers are decimal (010 is ten) or hexadecimal with 0x. Keys left out take their defaults.
#pragma once
#include <string>
#include <vector>

#include "sim/Node.h"

namespace sim {

// False with the reason (the file, the line, and the section and key or the line's text) when the
// description cannot be read whole: a value out of its range or with a NUL byte inside, a line that
// is no key = value. Of several faults the earliest line is named.
bool ReadNetworkFile(const std::string& path, std::vector<NodeConfig>* nodes, std::string* error);

}  // namespace sim
