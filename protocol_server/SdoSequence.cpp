// Expedited SDO requests to the nodes' manufacturer objects and the supervision of the one open
// exchange: it ends on the node's reply, its heartbeat state or a time-out, and steps through the
// five uploads of object 0x2005.
#include "Protocol.h"

namespace {

constexpr uint8_t SdoUpload = 0x40;
constexpr uint8_t SdoDownloadFourBytes = 0x23;
constexpr uint8_t SdoDownloadTwoBytes = 0x2B;
constexpr uint8_t SdoDownloadOneByte = 0x2F;
constexpr uint16_t ParameterObject = 0x2005;
constexpr uint16_t BootLoaderObject = 0x2010;
constexpr uint8_t ParameterSubs = 5;

constexpr uint64_t PackTransfer(uint8_t node, uint16_t index, uint8_t sub, uint16_t value) {
    return uint64_t(node) << 40 | uint64_t(index) << 24 | uint64_t(sub) << 16 | value;
}

}  // namespace

void TProtocol::BeforeTransmit() {}

bool TProtocol::Transmit(uint32_t id, uint8_t length, const uint8_t* data) {
    BeforeTransmit();
    return VCI_TransmitObj(Board, TxQueue, id, length, data) == 1;
}

bool TProtocol::SendSdoDownload(uint16_t index, uint8_t sub, uint8_t entry, uint8_t node) {
    uint8_t d[8] = {SdoDownloadOneByte, uint8_t(index), uint8_t(index >> 8), sub, 0, 0, 0, 0};
    if (index == ParameterObject) {
        d[0] = SdoDownloadFourBytes;
        if (sub >= 1 && sub <= ParameterSubs) {
            const uint8_t entries[4] = {uint8_t(26 + 2 * sub), uint8_t(27 + 2 * sub), uint8_t(36 + 2 * sub),
                                        uint8_t(37 + 2 * sub)};
            for (int i = 0; i < 4; ++i) d[4 + i] = uint8_t(GetValue(entries[i], node));
        }
    } else if (index == BootLoaderObject) {
        d[0] = SdoDownloadTwoBytes;
        d[4] = 0xA5;
        d[5] = 0x5A;
    } else if (index == 0x200C) {
        // The flag the acknowledgement will store, which is the value written for entry 12.
        d[4] = Flag200C;
    } else if (entry >= FirstParameterEntry && entry < FirstParameterEntry + sizeof ParameterValues) {
        // A parameter travels from the value written: the record takes it with the acknowledgement.
        d[4] = ParameterValues[entry - FirstParameterEntry];
    } else {
        // Command fields travel from their CommandBlock mirror.
        d[4] = uint8_t(GetValue(entry < 20 ? uint8_t(FirstMirrorEntry + entry) : entry, node));
    }
    return Transmit(0x600u + node, 8, d);
}

bool TProtocol::SendSdoUpload(uint16_t index, uint8_t sub, uint8_t node) {
    const uint8_t d[8] = {SdoUpload, uint8_t(index), uint8_t(index >> 8), sub, 0, 0, 0, 0};
    return Transmit(0x600u + node, 8, d);
}

void TProtocol::SendDownloadInFlight(uint16_t index, uint8_t sub, uint8_t entry, uint8_t node, uint16_t value) {
    if (index == 0x200C) Flag200C = uint8_t(value);
    TransferInFlight.store(PackTransfer(node, index, sub, value));
    OpenSdoExchange(node);
    SendSdoDownload(index, sub, entry, node);
}

bool TProtocol::AcknowledgedValue(uint8_t node, uint16_t index, uint8_t sub, uint16_t& value) const {
    const uint64_t t = TransferInFlight.load();
    if (node == 0 || (t & ~uint64_t(0xFFFF)) != (PackTransfer(node, index, sub, 0))) return false;
    value = uint16_t(t);
    return true;
}

void TProtocol::OpenSdoExchange(uint8_t node) {
    if (const uint8_t open = SdoTransactionNode.load()) CloseOnTimeout(open);
    // Only a reply that comes after the request may end the exchange; the one on record stays
    // there, since it still confirms the boot loader.
    const TSdoReply last = LastSdoReply.Load();
    if (last.Node == node) LastSdoReply.MarkStale(last);
    SetDeadline(SdoDeadline, SdoTimeoutMs);
    SdoTransactionNode.store(node);
}

// The exchange is closed before its state says so: a caller that reads the exchange ended and
// writes its next request at once (a version collection) must not find it still open, which
// would refuse the write.
void TProtocol::CloseSdoExchange(uint8_t node, uint8_t state) {
    SdoTransactionNode.store(0);
    SetValue(EntryExchangeState, node, true, state);
    // A 0x200C download that waited for this node's failed sequence is not sent.
    if (state == StateFailed && Pending200C && Pending200CNode == node) Pending200C = 0;
}

void TProtocol::CloseOnTimeout(uint8_t node) {
    switch (GetValue(EntryExchangeState, node)) {
    case StateUpload: CloseSdoExchange(node, StateFailed); break;
    case StateOperational:
    case StatePreOperational:
    case StateVersion: CloseSdoExchange(node, StateIdle); break;
    default: SdoTransactionNode.store(0); break;  // a plain download: the state stays
    }
}

void TProtocol::SuperviseSdo() {
    const uint8_t node = SdoTransactionNode.load();
    if (node == 0) return;
    const TSdoReply reply = LastSdoReply.Load();
    const bool replied = reply.Node == node && !reply.Stale;
    switch (GetValue(EntryExchangeState, node)) {
    case StateUpload:
        if (replied) {
            LastSdoReply.UseUp(reply);
            if (reply.Index != ParameterObject) return;
            // A refused step ends the sequence as a missing reply does.
            if (reply.Abort) return CloseSdoExchange(node, StateFailed);
            if (reply.Sub >= 1 && reply.Sub < ParameterSubs) {
                SendSdoUpload(ParameterObject, uint8_t(reply.Sub + 1), node);
                SetDeadline(SdoDeadline, SdoTimeoutMs);
            } else if (reply.Sub == ParameterSubs) {
                SdoTransactionNode.store(0);
                SetValue(EntryExchangeState, node, true, StateIdle);
                if (Pending200C && Pending200CNode == node) {
                    Pending200C = 0;
                    Due200CNode = node;
                }
            }
            return;
        }
        break;
    case StateOperational:
        if (IsNodeAlive(node) && IsNodeOperational(node)) return CloseSdoExchange(node, StateIdle);
        break;
    case StatePreOperational:
        if (IsNodeAlive(node) && !IsNodeOperational(node)) return CloseSdoExchange(node, StateIdle);
        break;
    case StateVersion:
        if (replied) return CloseSdoExchange(node, StateIdle);
        break;
    default:
        if (replied) return SdoTransactionNode.store(0);
        break;
    }
    if (DeadlinePassed(SdoDeadline.load())) CloseOnTimeout(node);
}
