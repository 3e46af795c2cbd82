#include "FakeLibrary.h"

#include <cstdio>

#include "protocol_server/Morvand.h"

TFakeLibrary Fake;

std::vector<std::string> TFakeLibrary::TakeCalls() {
    std::vector<std::string> calls;
    calls.swap(Calls);
    return calls;
}

extern "C" {

bool _SendGoBootLdr(uint8_t node) {
    Fake.Calls.push_back("boot " + std::to_string(node));
    return true;
}

bool _GoBootLdrConfirmed(uint16_t node) { return Fake.Confirmed.count(node) != 0; }

bool _SendErase(void) {
    Fake.Calls.push_back("erase");
    return true;
}

bool _SendLine(uint8_t kind, const char* record) {
    Fake.Calls.push_back("line" + std::to_string(kind) + " " + record);
    return true;
}

bool _SendCRC(uint16_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "crc %04X", unsigned(crc));
    Fake.Calls.push_back(text);
    return true;
}

int32_t _ReadTxQueueStatus(void) { return Fake.QueueLevel; }

bool _WrDBValue(uint8_t node, uint8_t index, uint8_t kind, int16_t value) {
    if (index == 18 && kind == 3 && value == 5) {
        Fake.Calls.push_back("ask " + std::to_string(node));
        Fake.OpenReads[node] = Fake.OpenReadsPerRequest;
    }
    return true;
}

bool _RdDBValue(uint8_t node, uint8_t index, uint8_t kind, uint16_t* value) {
    if (kind != 3) return false;
    if (index == 18) {
        int& open = Fake.OpenReads[node];
        *value = open > 0 ? 5 : 0;
        if (open > 0) --open;
        return true;
    }
    if (index == 16) {
        *value = Fake.Versions[node];
        return true;
    }
    return false;
}

}  // extern "C"
