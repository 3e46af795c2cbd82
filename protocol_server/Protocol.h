// TProtocol: the library's protocol object and its worker thread. One pass at a time: statistics
// reset, heartbeat supervision, the pending-command sender, the SDO supervisor, a requested
// self-suspension. Passes follow each other by a millisecond while a command or an exchange is
// under way; otherwise the thread rests until the first heartbeat expiry or a caller's request.
// Received frames arrive on the board's thread through OnVciReceive, which fills the instance's
// receive ring and decodes them into the node database.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "Morvand.h"
#include "NodeDatabase.h"
#include "board/VCI11UN6.h"
#include "rtl/CriticalSection.h"
#include "rtl/Thread.h"

constexpr uint8_t RingSlots = 20;  // holds at most 19 frames
constexpr uint32_t HeartbeatTimeoutMs = 3000;
constexpr uint8_t ResetStatRequest = 0x02;  // bit of TProtocol::Flags

class TProtocol : public rtl::TThread, public TNodeDatabase {
public:
    explicit TProtocol(bool createSuspended);
    ~TProtocol() override;

    // True when the busy byte is 0 and the thread is suspended (or was never started).
    bool IsIdle() const;
    // Cancels the board once, and only a board that was prepared.
    void CloseBoard();

    // The 100 ns deadline rule: deadline := now + ms * 10000 (the product as a signed 32-bit
    // value); passed when strictly earlier than now. Each reads the clock itself.
    static void SetDeadline(std::atomic<uint64_t>& deadline, int32_t ms);
    static bool DeadlinePassed(uint64_t deadline);
    // Nodes 21..127 that are present and whose heartbeat deadline passed lose presence and
    // operational state.
    void CheckHeartbeats();

    // Board set-up: find the board through the registry, prepare it, configure and start it.
    bool InitBoard();
    bool PrepareBoard();
    bool ConfigureCan();

    // Receive ring, under RxRingLock.
    bool PutRxMsg(const VCI_CAN_OBJ& object);
    bool GetRxMsg(TRxMsg* destination);
    // Decodes one received frame into the node database.
    void DecodeFrame(const VCI_CAN_OBJ& object);

    uint16_t Board = 0;
    uint16_t TxQueue = 0;
    uint16_t RxQueue = 0;
    uint16_t Buffers[10] = {};
    uint8_t Busy = 0;  // never set
    std::atomic<uint8_t> SuspendRequest{0};
    uint8_t HighSpeed = 0;  // 1 = 125 kbit/s, 0 = 62.5 kbit/s; set before InitBoard
    std::atomic<uint64_t> HeartbeatDeadline[NodeCount];
    // Re-arming a deadline with setting presence, and expiring a node, each happen whole.
    std::mutex HeartbeatLock;
    TDLLStat Stat = {};
    std::atomic<uint8_t> Flags{0};  // ResetStatRequest

    // ---- pending writes, SDO exchanges, download frames (command sender, SDO supervisor,
    // ---- download frames; this section may be edited by their implementer)
    // All transmissions: BeforeTransmit, then VCI_TransmitObj on Board / TxQueue; true when the
    // board queued the frame (result 1).
    bool Transmit(uint32_t id, uint8_t length, const uint8_t* data);
    void BeforeTransmit();

    // Callers' write path behind _WrDBValue; works without an instance. One write at a time is
    // pending: a write for another node than the pending one, or a second write that needs its own
    // frame after the command frame, is refused instead of being redirected or dropped.
    static bool WriteValue(uint8_t node, uint8_t index, uint8_t kind, int16_t value);
    void SendPendingCommand();
    bool PackCommandData();
    void SendNodeCommand(uint8_t command, uint8_t node);
    static uint8_t FirstPending2006();
    static uint8_t FirstPending2007();
    static void ClearPendingCommand();

    bool SendSdoDownload(uint16_t index, uint8_t sub, uint8_t entry, uint8_t node);
    bool SendSdoUpload(uint16_t index, uint8_t sub, uint8_t node);
    void SuperviseSdo();

    // The value an acknowledgement (download reply) from node for index/sub stores: the value of
    // the download in flight. False when the reply does not answer that download (another node,
    // object or sub-index, or nothing in flight): the receive path then stores nothing.
    bool AcknowledgedValue(uint8_t node, uint16_t index, uint8_t sub, uint16_t& value) const;

    bool SendLine(uint8_t kind, const char* text);
    bool SendErase();
    bool SendCrc(uint16_t crc);
    int32_t ReadTxQueueStatus();
    static char NibbleToHex(uint8_t v);
    static void WordToHex(uint16_t w, char* out);
    static uint8_t HexToNibble(char c);
    static uint8_t HexToByte(const char* text);

    static constexpr int32_t SdoTimeoutMs = 1500;
    static constexpr uint8_t EntryExchangeState = 0;  // entry 0: the node's exchange state
    // Exchange states: idle or finished, 0x2005 upload sequence, waiting for operational, waiting
    // for pre-operational, version upload, failed or refused.
    static constexpr uint8_t StateIdle = 0, StateUpload = 2, StateOperational = 3,
                             StatePreOperational = 4, StateVersion = 5, StateFailed = 255;

    std::atomic<uint64_t> SdoDeadline{0};

private:
    // Opens the exchange with node; an exchange still open is first closed as its time-out would
    // close it, and a reply of node recorded before the request is used up.
    void OpenSdoExchange(uint8_t node);
    // Ends the exchange of node as a time-out does in its state.
    void CloseOnTimeout(uint8_t node);
    void CloseSdoExchange(uint8_t node, uint8_t state);
    // Starts the download of object 0x2006..0x200C and records it as the one in flight.
    void SendDownloadInFlight(uint16_t index, uint8_t sub, uint8_t entry, uint8_t node, uint16_t value);
    void SendDeviceStep(uint8_t node);
    void Send200C(uint8_t node);

    // Node, object, sub-index and value of the download in flight, packed so that the receive
    // thread sees them together; node 0 = none.
    std::atomic<uint64_t> TransferInFlight{0};
    // Clearing flag 12 goes as a 0x200C download after a fresh 0x2005 upload of the same node.
    // Protocol thread only.
    uint8_t Flag200C = 0;         // the value of the 0x200C download
    uint8_t Pending200C = 0;      // waits for the upload of Pending200CNode
    uint8_t Pending200CNode = 0;
    uint8_t Due200CNode = 0;      // that upload ended: the sender's next pass sends the download

public:
    // ---- end of pending writes, SDO exchanges, download frames

    // Longest rest between passes: bounds the reaction to a clock that jumps or is moved by hand.
    static constexpr uint32_t MaxRestMs = 100;
    // How long the thread may rest after a pass without anything observable coming later.
    uint32_t RestMs() const;

protected:
    void Execute() override;

private:
    TRxMsg Ring[RingSlots] = {};
    uint8_t RingWrite = 0;  // slot written last
    uint8_t RingRead = 0;   // slot read last
    bool BoardPrepared = false;
    std::atomic<bool> BoardCancelled{false};

    void DecodeStatus(uint8_t node, const uint8_t* d);
    void DecodeAnalog(uint8_t node, const uint8_t* d);
    void DecodeSystem(uint8_t node, const uint8_t* d);
    void DecodeHeartbeat(uint8_t node, const uint8_t* d);
    void DecodeSdoReply(uint8_t node, const uint8_t* d);
};

// The one protocol instance (null when none) and the receive ring's lock, which lives as long as
// the instance. Written only by the life-cycle exports.
extern std::atomic<TProtocol*> Protocol;
extern std::atomic<rtl::TCriticalSection*> RxRingLock;

// Receive callback handed to the board library: count consecutive 18-byte objects.
void OnVciReceive(uint32_t queue, uint16_t count, VCI_CAN_OBJ* objects);

// One line to the log server.
void LogLine(const char* text);
