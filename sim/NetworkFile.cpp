#include "sim/NetworkFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "rtl/Files.h"
#include "rtl/NumberText.h"
#include "rtl/Profile.h"
#include "rtl/StringList.h"

namespace sim {
namespace {

class Reader {
public:
    Reader(const std::string& path, std::string* error) : ini_(path), path_(path), error_(error) {}

    bool Ok() const { return ok_; }

    // The value; a value with a NUL byte inside is refused (and taken as absent): a reader that
    // stopped at the NUL would take what stands before it.
    std::string Text(const std::string& section, const char* key) {
        std::string text = ini_.ReadString(section, key, "");
        if (text.find('\0') == std::string::npos) return text;
        Fail(section, key, "holds a NUL byte");
        return {};
    }

    // An integer from min to max; the default when the key is absent.
    long Int(const std::string& section, const char* key, long min, long max, long defaultValue) {
        const std::string text = Text(section, key);
        if (text.empty()) return defaultValue;
        auto value = ParseInt(text);
        if (!value || *value < min || *value > max) {
            Fail(section, key, "\"" + text + "\" is not a number from " + std::to_string(min) + " to " +
                                   std::to_string(max));
            return defaultValue;
        }
        return *value;
    }

    // A comma list of exactly count integers from min to max (or nothing: the key is absent).
    std::vector<long> IntList(const std::string& section, const char* key, size_t count, long min, long max) {
        const std::string text = Text(section, key);
        if (text.empty()) return {};
        std::vector<long> values;
        for (const std::string& field : rtl::SplitCommaText(text)) {
            auto value = ParseInt(field);
            if (!value || *value < min || *value > max) break;
            values.push_back(*value);
        }
        if (values.size() != count) {
            Fail(section, key, "wants " + std::to_string(count) + " numbers from " + std::to_string(min) +
                                   " to " + std::to_string(max));
            return {};
        }
        return values;
    }

    // A comma list of exactly count temperatures in degrees, as tenths.
    std::vector<int16_t> TenthsList(const std::string& section, const char* key, size_t count) {
        const std::string text = Text(section, key);
        if (text.empty()) return {};
        std::vector<int16_t> values;
        for (const std::string& field : rtl::SplitCommaText(text)) {
            const auto v = rtl::ParseDouble(field);  // a point before the decimals in any locale
            if (!v || !(*v >= -1638.4 && *v <= 1638.3)) break;
            values.push_back(int16_t(std::lround(*v * 10)));
        }
        if (values.size() != count) {
            Fail(section, key, "wants " + std::to_string(count) + " temperatures from -1638.4 to 1638.3");
            return {};
        }
        return values;
    }

    void Fail(const std::string& section, const char* key, const std::string& why) {
        FailAt(rtl::PrivateProfileLine(section, key, path_), "[" + section + "] " + key + ": " + why);
    }

    // Keys are read in no order of the file: of several faults, the one on the earliest line is named.
    void FailAt(int line, const std::string& what) {
        if (ok_ || line < errorLine_) {
            *error_ = At(line) + what;
            errorLine_ = line;
        }
        ok_ = false;
    }

    // "<file>: line <n>: ", where the technician looks.
    std::string At(int line) const { return path_ + ": line " + std::to_string(line) + ": "; }

    // Decimal, or hexadecimal after 0x; a leading zero does not make it octal.
    static std::optional<long> ParseInt(const std::string& text) {
        const size_t sign = text.starts_with('-') || text.starts_with('+') ? 1 : 0;
        const bool hex = text.size() > sign + 1 && text[sign] == '0' && (text[sign + 1] | 0x20) == 'x';
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(text.c_str(), &end, hex ? 16 : 10);
        if (text.empty() || *end != '\0' || errno) return std::nullopt;
        return v;
    }

private:
    rtl::TIniFile ini_;
    std::string path_;
    std::string* error_;
    bool ok_ = true;
    int errorLine_ = 0;
};

Time Ms(long ms) { return Time(ms) * kMs; }

void ReadPeriods(Reader& r, const std::string& section, NodeConfig& c) {
    const long day = 24L * 3600 * 1000;
    c.heartbeatPeriod = Ms(r.Int(section, "HeartbeatMs", 0, day, long(c.heartbeatPeriod / kMs)));
    c.statusPeriod = Ms(r.Int(section, "StatusMs", 0, day, long(c.statusPeriod / kMs)));
    c.analogPeriod = Ms(r.Int(section, "AnalogMs", 0, day, long(c.analogPeriod / kMs)));
    c.systemPeriod = Ms(r.Int(section, "SystemMs", 0, day, long(c.systemPeriod / kMs)));
    c.responseDelay = Time(r.Int(section, "ResponseUs", 0, 60'000'000, long(c.responseDelay / kUs))) * kUs;
}

NodeConfig ReadNode(Reader& r, uint8_t number, const NodeConfig& defaults) {
    const std::string s = "Node" + std::to_string(number);
    NodeConfig c = defaults;
    c.number = number;
    ReadPeriods(r, s, c);
    c.version = uint16_t(r.Int(s, "Version", 0, 0xFFFF, 0x4601));
    const std::string state = r.Text(s, "State");
    if (state == "preoperational")
        c.operational = false;
    else if (!state.empty() && state != "operational")
        r.Fail(s, "State", "\"" + state + "\" is neither operational nor preoperational");
    NodeValues& v = c.values;
    if (number == kController) {
        auto sys = r.IntList(s, "SystemValues", 3, -32768, 65535);
        if (!sys.empty() && (sys[2] < 0 || sys[2] > 255)) {
            r.Fail(s, "SystemValues", "the system byte wants a number from 0 to 255");
        } else if (!sys.empty()) {
            v.system = {int16_t(sys[0]), int16_t(sys[1])};
            v.systemByte = uint8_t(sys[2]);
        }
        return c;
    }
    v.master = uint8_t(r.Int(s, "Master", 21, 127, number));
    v.setPoint = int8_t(r.Int(s, "SetPoint", -64, 63, 21));
    v.mode = uint8_t(r.Int(s, "Mode", 0, 7, 0));
    v.offset = int8_t(r.Int(s, "Offset", -4, 3, 0));
    v.fan = uint8_t(r.Int(s, "Fan", 0, 3, 0));
    v.fl = uint8_t(r.Int(s, "FL", 0, 15, 0));
    v.lg = uint8_t(r.Int(s, "LG", 0, 7, 0));
    v.ld = uint8_t(r.Int(s, "LD", 0, 7, 0));
    v.ky = uint8_t(r.Int(s, "KY", 0, 15, 0));
    v.la = uint8_t(r.Int(s, "LA", 0, 15, 0));
    v.flags = uint8_t(r.Int(s, "Flags", 0, 255, 0));
    v.inputs = uint8_t(r.Int(s, "Inputs", 0, 255, 0));
    auto sensors = r.TenthsList(s, "Sensors", 4);
    for (size_t i = 0; i < sensors.size(); ++i) v.analog[i] = sensors[i];
    auto p6 = r.IntList(s, "Params2006", 10, 0, 127);
    for (size_t i = 0; i < p6.size(); ++i) v.params2006[i] = uint8_t(p6[i]);
    auto p7 = r.IntList(s, "Params2007", 10, -128, 127);
    for (size_t i = 0; i < p7.size(); ++i) v.params2007[i] = int8_t(p7[i]);
    return c;
}

}  // namespace

bool ReadNetworkFile(const std::string& path, std::vector<NodeConfig>* nodes, std::string* error) {
    if (!rtl::FileExists(path)) {
        *error = path + ": not found";
        return false;
    }
    Reader r(path, error);
    std::string foreign;
    // The keys are still read: a bad value on an earlier line is named first.
    if (const int line = rtl::FirstForeignProfileLine(path, &foreign))
        r.FailAt(line, "\"" + foreign + "\" " + (foreign.front() == '[' ? "has no ']'" : "has no '='"));
    NodeConfig defaults;
    ReadPeriods(r, "Network", defaults);
    const std::string list = r.Text("Network", "Nodes");
    std::vector<NodeConfig> read;
    std::vector<bool> seen(128, false);
    for (const std::string& field : rtl::SplitCommaText(list)) {
        auto n = Reader::ParseInt(field);
        if (!n || !((*n >= 21 && *n <= 125) || *n == kController) || seen[*n]) {
            r.Fail("Network", "Nodes", "\"" + field + "\" is no device 21..125 or 127, or is listed twice");
            continue;  // the nodes after it are still read: a fault on an earlier line is named first
        }
        seen[*n] = true;
        read.push_back(ReadNode(r, uint8_t(*n), defaults));
    }
    if (!r.Ok()) return false;
    *nodes = std::move(read);
    return true;
}

}  // namespace sim
