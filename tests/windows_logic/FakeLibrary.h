// Stand-ins for the library's download and value exports, defined in the test program so that the
// sequence's calls land here: every call is recorded, the test sets what the library answers.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

struct TFakeLibrary {
    std::vector<std::string> Calls;  // "boot 40", "erase", "line0 <text>", "crc 4B37", "ask 40"
    int QueueLevel = 0;              // what _ReadTxQueueStatus answers
    std::set<int> Confirmed;         // nodes whose boot-loader acknowledgement came in
    std::map<int, uint16_t> Versions;
    int OpenReadsPerRequest = 1;     // reads of index 18 that still find a version request open
    std::map<int, int> OpenReads;

    std::vector<std::string> TakeCalls();
};

extern TFakeLibrary Fake;
