#include "sim/BootLoader.h"

#include <gtest/gtest.h>

#include <functional>

#include "sim/HexDownload.h"

namespace {

using simtest::HexRecords;
using Outcome = sim::BootLoader::Outcome;

TEST(Crc16, CheckValues) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::Crc16(digits, sizeof digits), 0x4B37);
    const std::vector<uint8_t> blank(sim::kImageSize, 0xFF);
    EXPECT_EQ(sim::Crc16(blank.data(), blank.size()), 0xC000);
}

const std::map<uint16_t, std::vector<uint8_t>> kBlocks = {
    {0x0000, {0x02, 0x00, 0x40, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x01, 0x02}},
    {0x00F8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    {sim::kVersionAddress, {0x02, 0x47}},
};

// Feeds frames to a boot loader and returns the outcome of the last one.
Outcome Feed(sim::BootLoader& loader, const std::vector<sim::Frame>& frames) {
    Outcome last = Outcome::None;
    for (const auto& f : frames) last = loader.Take(f);
    return last;
}

std::vector<sim::Frame> Download(const std::vector<std::string>& records, uint16_t crc, bool erase = true) {
    std::vector<sim::Frame> frames;
    if (erase) frames.push_back(simtest::EraseFrame());
    for (const auto& r : records)
        for (const auto& p : simtest::RecordPieces(r)) frames.push_back(p);
    frames.push_back(simtest::CrcFrame(crc));
    return frames;
}

uint16_t GoodCrc() {
    auto image = simtest::ImageOf(kBlocks);
    return sim::Crc16(image.data(), image.size());
}

TEST(BootLoader, GoodDownloadMatchesAndCarriesTheImageVersion) {
    sim::BootLoader loader;
    const auto records = HexRecords(kBlocks);
    EXPECT_EQ(Feed(loader, Download(records, GoodCrc())), Outcome::CrcMatch);
    EXPECT_EQ(loader.ImageVersion(), 0x4702);
    EXPECT_EQ(loader.RecordsTaken(), records.size());
}

TEST(BootLoader, EachFaultOfTheDownloadEndsInAMismatch) {
    const auto good = HexRecords(kBlocks);
    struct Case {
        const char* what;
        std::function<std::vector<sim::Frame>()> frames;
    } cases[] = {
        {"wrong CRC", [&] { return Download(good, uint16_t(GoodCrc() ^ 1)); }},
        {"no erase", [&] { return Download(good, GoodCrc(), false); }},
        {"bad record checksum",
         [&] {
             auto records = good;
             records[1].back() = records[1].back() == '0' ? '1' : '0';
             return Download(records, GoodCrc());
         }},
        {"lower-case digits",
         [&] {
             auto records = good;
             for (char& c : records[1]) c = char(std::tolower(c));
             return Download(records, GoodCrc());
         }},
        {"lost piece",
         [&] {
             auto frames = Download(good, GoodCrc());
             frames.erase(frames.begin() + 1 + 3 + 2);  // erase, address record, then piece 2 of a data record
             return frames;
         }},
        {"record longer than 16 bytes",
         [&] {
             auto records = good;
             records.insert(records.begin() + 1, simtest::HexRecord(0, 0x0200, std::vector<uint8_t>(20, 0x5A)));
             return Download(records, GoodCrc());
         }},
        {"record beyond the image",
         [&] {
             auto records = good;
             records.insert(records.begin() + 1, simtest::HexRecord(0, 0xEFF8, std::vector<uint8_t>(16, 0x5A)));
             return Download(records, GoodCrc());
         }},
        {"CRC frame not hex", [&] {
             auto frames = Download(good, GoodCrc());
             frames.back().data[0] = 'G';
             return frames;
         }},
    };
    for (const auto& c : cases) {
        sim::BootLoader loader;
        EXPECT_EQ(Feed(loader, c.frames()), Outcome::CrcMismatch) << c.what;
    }
}

TEST(BootLoader, EraseClearsAnEarlierFailure) {
    sim::BootLoader loader;
    EXPECT_EQ(Feed(loader, Download(HexRecords(kBlocks), 0x1234)), Outcome::CrcMismatch);
    EXPECT_EQ(Feed(loader, Download(HexRecords(kBlocks), GoodCrc())), Outcome::CrcMatch);
}

TEST(BootLoader, EmptyImageHasTheBlankCrc) {
    sim::BootLoader loader;
    EXPECT_EQ(Feed(loader, Download({"00000001FF"}, 0xC000)), Outcome::CrcMatch);
    EXPECT_EQ(loader.ImageVersion(), 0xFFFF);
}

TEST(BootLoader, RecordPiecesAsTheLibrarySendsThem) {
    // The record of 16 bytes is carried by six frames; the end-of-file record by two.
    const auto pieces = simtest::RecordPieces("10010000214601360121470136007EFE09D2190140");
    ASSERT_EQ(pieces.size(), 6u);
    const char* expected[] = {"10010000", "21460136", "01214701", "36007EFE", "09D21901", "40"};
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(pieces[k].id, 0x114 + 0x80 * k);
        EXPECT_EQ(std::string(pieces[k].data.begin(), pieces[k].data.begin() + pieces[k].len), expected[k]);
    }
    EXPECT_EQ(simtest::RecordPieces("00000001FF").size(), 2u);
    EXPECT_EQ(simtest::CrcFrame(0x4B37), sim::Frame(0x414, {0x34, 0x42, 0x33, 0x37}));
}

}  // namespace
