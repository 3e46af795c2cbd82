// The open SDO exchange: how it ends (reply, heartbeat state, time-out), the five uploads of the
// parameters, and the faults of the exchange bookkeeping that the library mends.
#include "RoadsFixture.h"

namespace {

const Bytes VersionReply = {0x43, 0x0F, 0x20, 0x00, 0x12, 0x34, 0, 0};

Bytes ParameterReply(uint8_t sub) {
    return {0x43, 0x05, 0x20, sub, uint8_t(sub * 10 + 1), uint8_t(sub * 10 + 2), uint8_t(sub * 10 + 3),
            uint8_t(0x80 | sub)};
}

TSentFrame ParameterRequest(uint8_t node, uint8_t sub) { return {0x600u + node, {0x40, 0x05, 0x20, sub, 0, 0, 0, 0}}; }

// Node 40 answers its five parameter uploads, a pass after each; the frames sent are dropped.
void AnswerParameterUpload() {
    for (uint8_t sub = 1; sub <= 5; ++sub) {
        RoadTest::SdoReply(40, ParameterReply(sub));
        RoadTest::Pass();
    }
    RoadTest::TakeSent();
}

TEST_F(RoadTest, VersionRequestEndsWithTheReply) {
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 5));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x628, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}}}));
    EXPECT_EQ(State(40), 5);
    SdoReply(40, VersionReply);
    EXPECT_EQ(Value(27, 40), 0x3412);
    Pass();
    EXPECT_EQ(State(40), 0);
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    EXPECT_TRUE(_NodeChanged(40) & 0x20);
}

TEST_F(RoadTest, VersionRequestWithoutReplyEndsAfterItsTimeOut) {
    TNodeDatabase::SetValue(27, 40, false, 0x0101);
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 5));
    Pass();
    AdvanceMs(1500);
    Pass();
    EXPECT_EQ(State(40), 5);
    AdvanceMs(1);
    Pass();
    EXPECT_EQ(State(40), 0);
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    EXPECT_EQ(Value(27, 40), 0x0101);
}

TEST_F(RoadTest, ControllerVersionIsAskedAs126) {
    ASSERT_TRUE(_WrDBValue(126, 18, 3, 5));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x67F, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}}}));
    SdoReply(127, VersionReply);
    Pass();
    EXPECT_EQ(State(126), 0);
    EXPECT_EQ(Value(27, 126), 0x3412);
    uint16_t v = 0;
    ASSERT_TRUE(_RdDBValue(126, 16, 3, &v));
    EXPECT_EQ(v, 0x3412);
}

TEST_F(RoadTest, ParameterUploadAsksFiveSubIndexesAndFillsTheParameters) {
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 2));
    Pass();
    for (uint8_t sub = 1; sub <= 5; ++sub) {
        EXPECT_EQ(TakeSent(), std::vector<TSentFrame>{ParameterRequest(40, sub)}) << int(sub);
        EXPECT_EQ(State(40), 2);
        AdvanceMs(1000);  // each step has its own time-out
        SdoReply(40, ParameterReply(sub));
        Pass();
    }
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(State(40), 0);
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    for (uint8_t k = 1; k <= 5; ++k) {
        uint16_t v = 0;
        ASSERT_TRUE(_RdDBValue(40, uint8_t(22 + 2 * k), 3, &v));  // entry 26 + 2k
        EXPECT_EQ(v, k * 10 + 1);
        ASSERT_TRUE(_RdDBValue(40, uint8_t(33 + 2 * k), 3, &v));  // entry 37 + 2k, signed
        EXPECT_EQ(int16_t(v), int8_t(0x80 | k));
    }
}

struct TUploadFailure {
    const char* Name;
    uint8_t Flag;     // entry 12 written (0: the upload goes before a 0x200C download) or 0xFF: mode 2
    uint8_t Failing;  // the sub-index whose reply fails; the earlier ones are answered
    bool Aborted;     // the node refuses it; else it does not answer
};

class UploadFailureTest : public RoadTest, public ::testing::WithParamInterface<TUploadFailure> {};

TEST_P(UploadFailureTest, EndsTheSequenceWithoutFurtherRequests) {
    const TUploadFailure& f = GetParam();
    ASSERT_TRUE(f.Flag == 0xFF ? _WrDBValue(40, 18, 3, 2) : _WrDBValue(40, 23, 3, f.Flag));
    Pass();
    for (uint8_t sub = 1; sub < f.Failing; ++sub) {
        SdoReply(40, ParameterReply(sub));
        Pass();
    }
    EXPECT_EQ(TakeSent().back(), ParameterRequest(40, f.Failing));
    if (f.Aborted)
        SdoReply(40, {0x80, 0x05, 0x20, f.Failing, 0x00, 0x00, 0x00, 0x08});
    else
        AdvanceMs(1501);
    Pass();
    EXPECT_EQ(State(40), 255);
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    AdvanceMs(5000);
    Pass();
    Pass();
    EXPECT_TRUE(TakeSent().empty());
}

INSTANTIATE_TEST_SUITE_P(Uploads, UploadFailureTest,
                         ::testing::Values(TUploadFailure{"ReplyMissing", 0xFF, 3, false},
                                           TUploadFailure{"ReplyAborted", 0xFF, 3, true},
                                           TUploadFailure{"LastReplyAbortedBeforeFlagDownload", 0, 5, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RoadTest, ReplyForAnotherObjectIsUsedUpWithoutAdvancingTheUpload) {
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 2));
    Pass();
    TakeSent();
    SdoReply(40, {0x60, 0x06, 0x20, 0x01, 0, 0, 0, 0});
    Pass();
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(LastSdoReply.Load().Node, 0);
    EXPECT_EQ(State(40), 2);
    EXPECT_EQ(SdoTransactionNode.load(), 40);
}

struct TStateRequest {
    const char* Name;
    uint8_t Mode;
    uint8_t Heartbeat;  // heartbeat state that ends it at once; 0xFF: none does
};

class StateRequestTest : public RoadTest, public ::testing::WithParamInterface<TStateRequest> {};

TEST_P(StateRequestTest, EndsOnTheHeartbeatStateOrItsTimeOut) {
    const TStateRequest& r = GetParam();
    // With the state reached the exchange ends in the pass after the heartbeat.
    ASSERT_TRUE(_WrDBValue(40, 18, 3, r.Mode));
    Pass();
    EXPECT_EQ(State(40), r.Mode);
    Heartbeat(40, r.Heartbeat);
    Pass();
    EXPECT_EQ(State(40), 0);
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    // With the node in the other state it ends only by its time-out, also with state 0.
    Heartbeat(40, r.Heartbeat == 5 ? 127 : 5);
    ASSERT_TRUE(_WrDBValue(40, 18, 3, r.Mode));
    Pass();
    AdvanceMs(1500);
    Pass();
    EXPECT_EQ(State(40), r.Mode);
    AdvanceMs(1);
    Pass();
    EXPECT_EQ(State(40), 0);
}

INSTANTIATE_TEST_SUITE_P(Requests, StateRequestTest,
                         ::testing::Values(TStateRequest{"Operational", 3, 5}, TStateRequest{"PreOperational", 4, 127}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RoadTest, ExchangeLeftOpenByAnEarlierInstanceEndsInTheFirstPass) {
    ASSERT_TRUE(_WrDBValue(40, 24, 3, 30));
    Pass();
    ASSERT_EQ(SdoTransactionNode.load(), 40);
    _DestroyCANThread();
    _MORVANDProtocolCreate(1);
    Pass();
    EXPECT_EQ(SdoTransactionNode.load(), 0);
}

// ---- Mended: a parameter written was stored before the node took it.

struct TParameterOutcome {
    const char* Name;
    uint8_t Index;  // 24..33: object 0x2006, 34..43: 0x2007
    int16_t Value;
    uint8_t Command;  // the node's reply: 0x60 takes it, 0x80 refuses it; 0: no reply
};

class ParameterOutcomeTest : public RoadTest, public ::testing::WithParamInterface<TParameterOutcome> {};

TEST_P(ParameterOutcomeTest, RecordHoldsWhatTheNodeTook) {
    const TParameterOutcome& o = GetParam();
    const auto entry = uint8_t(o.Index + 4);
    const uint8_t object = o.Index < 34 ? 0x06 : 0x07, sub = uint8_t(o.Index < 34 ? o.Index - 23 : o.Index - 33);
    TNodeDatabase::SetValue(entry, 40, false, 1);  // what the node holds
    _NodeChanged(40);
    ASSERT_TRUE(_WrDBValue(40, o.Index, 3, o.Value));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x628, {0x2F, object, 0x20, sub, uint8_t(o.Value), 0, 0, 0}}}));
    uint16_t v = 0;
    ASSERT_TRUE(_RdDBValue(40, o.Index, 3, &v));
    EXPECT_EQ(v, 1) << "before the reply";
    if (o.Command == 0)
        AdvanceMs(1501);
    else
        SdoReply(40, {o.Command, object, 0x20, sub, 0x02, 0x00, 0x01, uint8_t(o.Command == 0x80 ? 0x06 : 0)});
    Pass();
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    ASSERT_TRUE(_RdDBValue(40, o.Index, 3, &v));
    const bool taken = o.Command == 0x60;
    EXPECT_EQ(int16_t(v), taken ? o.Value : 1);
    EXPECT_EQ(_NodeChanged(40) & 0x20, taken ? 0x20 : 0);
}

INSTANTIATE_TEST_SUITE_P(Writes, ParameterOutcomeTest,
                         ::testing::Values(TParameterOutcome{"Taken2006", 24, 30, 0x60},
                                           TParameterOutcome{"Refused2006", 24, 30, 0x80},
                                           TParameterOutcome{"Unanswered2006", 33, 30, 0},
                                           TParameterOutcome{"Taken2007", 43, -3, 0x60},
                                           TParameterOutcome{"Refused2007", 34, -3, 0x80},
                                           TParameterOutcome{"Unanswered2007", 34, -3, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Mended: a reply recorded before the request ended the new exchange at once.

TEST_F(RoadTest, ReplyFromBeforeTheRequestDoesNotEndTheExchange) {
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 5));
    Pass();
    SdoReply(40, VersionReply);
    Pass();
    ASSERT_EQ(State(40), 0);
    // The node is asked again (after a download, say): the old reply is still the last one.
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 5));
    Pass();
    EXPECT_EQ(State(40), 5);
    EXPECT_EQ(SdoTransactionNode.load(), 40);
    SdoReply(40, {0x43, 0x0F, 0x20, 0x00, 0x00, 0x35, 0, 0});
    Pass();
    EXPECT_EQ(State(40), 0);
    EXPECT_EQ(Value(27, 40), 0x3500);
}

TEST_F(RoadTest, DownloadAfterAnEarlierReplyWaitsForItsAcknowledgement) {
    SdoReply(40, {0x60, 0x06, 0x20, 0x01, 0, 0, 0, 0});
    ASSERT_TRUE(_WrDBValue(40, 24, 3, 30));
    Pass();
    EXPECT_EQ(SdoTransactionNode.load(), 40);
    EXPECT_FALSE(_WrDBValue(40, 1, 3, 22));
}

// ---- Mended: an acknowledgement stored the value in flight whatever it answered.

TEST_F(RoadTest, AcknowledgementStoresOnlyWhenItAnswersTheDownloadInFlight) {
    ASSERT_TRUE(_WrDBValue(40, 24, 3, 30));
    Pass();
    TNodeDatabase::SetValue(28, 40, false, 5);  // a status of the node changed the value meanwhile
    _NodeChanged(40);
    SdoReply(41, {0x60, 0x06, 0x20, 0x01, 0, 0, 0, 0});  // another node
    SdoReply(40, {0x60, 0x06, 0x20, 0x02, 0, 0, 0, 0});  // another sub-index
    SdoReply(40, {0x60, 0x07, 0x20, 0x01, 0, 0, 0, 0});  // another object
    EXPECT_EQ(Value(28, 41), 0);
    EXPECT_EQ(Value(29, 40), 0);
    EXPECT_EQ(Value(38, 40), 0);
    EXPECT_EQ(Value(28, 40), 5);
    SdoReply(40, {0x60, 0x06, 0x20, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(Value(28, 40), 30);
    EXPECT_EQ(_NodeChanged(40), 0x20);
}

// ---- Mended: the deferred 0x200C download went to whichever device was written next.

TEST_F(RoadTest, FlagClearedGoesToItsNodeAfterTheUpload) {
    ASSERT_TRUE(_WrDBValue(40, 23, 3, 0));
    Pass();
    AnswerParameterUpload();
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x628, {0x2F, 0x0C, 0x20, 0x01, 0x00, 0, 0, 0}}}));
    EXPECT_EQ(SdoTransactionNode.load(), 40);
    TNodeDatabase::SetValue(12, 40, false, 1);
    SdoReply(40, {0x60, 0x0C, 0x20, 0x01, 0, 0, 0, 0});
    EXPECT_EQ(Value(12, 40), 0);
    Pass();
    EXPECT_EQ(SdoTransactionNode.load(), 0);
}

TEST_F(RoadTest, FlagClearedIsNotSentToAnotherNode) {
    ASSERT_TRUE(_WrDBValue(40, 23, 3, 0));
    Pass();
    AdvanceMs(1501);
    Pass();  // the upload failed
    ASSERT_EQ(State(40), 255);
    TakeSent();
    ASSERT_TRUE(_WrDBValue(41, 1, 3, 22));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x229, {0x96, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}}}));
    ASSERT_TRUE(_WrDBValue(40, 1, 3, 22));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x228, {0x96, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}}}));
}

TEST_F(RoadTest, CallerWriteWaitsOnePassForTheDueFlagDownload) {
    ASSERT_TRUE(_WrDBValue(40, 23, 3, 0));
    Pass();
    AnswerParameterUpload();
    ASSERT_TRUE(_WrDBValue(41, 1, 3, 22));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x628, {0x2F, 0x0C, 0x20, 0x01, 0x00, 0, 0, 0}}}));
    Pass();
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x229, {0x96, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}}}));
}

// ---- Mended: a replaced exchange left its node's state open for ever.

struct TReplaced {
    const char* Name;
    uint8_t Mode;      // request that opens the first exchange (node 40)
    uint16_t Closed;   // node 40's state once a download to node 41 replaced it
};

class ReplacedTest : public RoadTest, public ::testing::WithParamInterface<TReplaced> {};

TEST_P(ReplacedTest, ClosesAsItsTimeOutWould) {
    const TReplaced& r = GetParam();
    ASSERT_TRUE(_WrDBValue(40, 18, 3, r.Mode));
    Pass();
    ASSERT_EQ(State(40), r.Mode);
    ASSERT_TRUE(_WrDBValue(41, 24, 3, 30));
    Pass();
    EXPECT_EQ(SdoTransactionNode.load(), 41);
    EXPECT_EQ(State(40), r.Closed);
    EXPECT_EQ(State(41), 0);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, ReplacedTest,
                         ::testing::Values(TReplaced{"Version", 5, 0}, TReplaced{"Upload", 2, 255},
                                           TReplaced{"Operational", 3, 0}, TReplaced{"PreOperational", 4, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RoadTest, ReplacedUploadOfTheSameNodeFails) {
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 2));
    Pass();
    ASSERT_TRUE(_WrDBValue(40, 24, 3, 30));
    Pass();
    EXPECT_EQ(State(40), 255);
    SdoReply(40, {0x60, 0x06, 0x20, 0x01, 0, 0, 0, 0});
    Pass();
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    EXPECT_EQ(Value(28, 40), 30);
}

}  // namespace
