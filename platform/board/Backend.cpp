#include "board/Backend.h"

#include "board/SimBackend.h"
#include "board/SocketCanBackend.h"
#include "registry/RegistryFile.h"

namespace vci {

void LossNote::Lost(std::chrono::steady_clock::time_point now) {
    const bool quiet = !any_ || now - last_ >= std::chrono::seconds(1);
    any_ = true;
    last_ = now;
    if (quiet && note_) note_(who_ + ": received frames lost");
}

std::shared_ptr<Backend> MakeBackend(uint32_t boardType, uint16_t boardNumber, std::string* error, const Note& note) {
    if (boardType == VCI_BOARD_SIMULATED) {
        if (boardNumber != 0) {
            *error = "the simulated network is board 0";
            return nullptr;
        }
        // A network file the simulation cannot read whole is a board that cannot be prepared.
        auto network = sim::Network::Shared(error);
        if (!network) return nullptr;
        if (network->HostAttached()) {
            *error = "the simulated network serves another board already";
            return nullptr;
        }
        return std::make_shared<SimBackend>(network, note);
    }
    if (boardType == VCI_BOARD_SOCKETCAN) {
        std::string name = "can" + std::to_string(boardNumber);
        for (const auto& entry : xatreg::ReadRegistry(xatreg::RegistryPath())) {
            if (entry.type == VCI_BOARD_SOCKETCAN && entry.number == boardNumber && !entry.interfaceName.empty()) {
                name = entry.interfaceName;
                break;
            }
        }
        return SocketCanBackend::Open(name, error, note);
    }
    *error = "no such board type";
    return nullptr;
}

}  // namespace vci
