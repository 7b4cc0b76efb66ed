// The OPN-2001 wire protocol as pure functions: the CRC, the request and
// answer frames, the upload's records and the time stamps, including every
// way an answer can be broken.

#include "csp2/csp2_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace csp2 {
namespace {

Bytes UploadAnswer(const std::vector<Bytes>& records) {
    Bytes payload = {'S', 'N', '0', '0', '0', '0', '0', '1'};
    for (const Bytes& r : records)
        payload.insert(payload.end(), r.begin(), r.end());
    return BuildAnswer(payload);
}

const Stamp kScan{2024, 1, 31, 14, 5, 9};

TEST(Csp2Protocol, RequestsCarryTheirCrcHighByteFirst) {
    const uint8_t head[] = {0x01, 0x02, 0x00};
    EXPECT_EQ(Crc16(head, 3), 0x9FDE);
    EXPECT_EQ(BuildRequest(kInterrogate), (Bytes{0x01, 0x02, 0x00, 0x9F, 0xDE}));

    // A payload is followed by a zero byte, and the CRC covers both.
    const Bytes param = BuildRequest(kReadParameter, {kParamAsciiMode});
    ASSERT_EQ(param.size(), 7u);
    EXPECT_EQ(Bytes(param.begin(), param.begin() + 5), (Bytes{0x08, 0x02, 0x01, 0x4F, 0x00}));
    const uint16_t crc = Crc16(param.data(), 5);
    EXPECT_EQ(param[5], crc >> 8);
    EXPECT_EQ(param[6], crc & 0xFF);
}

TEST(Csp2Protocol, StampsPackAsTheScannerSendsThem) {
    uint8_t bytes[4];
    EncodeStamp(kScan, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0x24, 0x57, 0x7C, 0x58}));
    const Stamp back = DecodeStamp(bytes);
    EXPECT_EQ(back.year, 2024);
    EXPECT_EQ(back.month, 1);
    EXPECT_EQ(back.day, 31);
    EXPECT_EQ(back.hour, 14);
    EXPECT_EQ(back.minute, 5);
    EXPECT_EQ(back.second, 9);
}

TEST(Csp2Protocol, StampTextUsesTheTwelveHourClock) {
    struct Case {
        Stamp stamp;
        const char* text;
    };
    const Case cases[] = {
        {{2024, 3, 1, 0, 30, 0}, "12:30:00 AM 03/01/24"},  // half past midnight
        {{2024, 3, 1, 12, 0, 0}, "12:00:00 PM 03/01/24"},  // noon
        {{2024, 12, 24, 13, 5, 7}, "01:05:07 PM 12/24/24"},
        {{2007, 7, 9, 11, 59, 59}, "11:59:59 AM 07/09/07"},
    };
    for (const Case& c : cases) {
        uint8_t bytes[4];
        EncodeStamp(c.stamp, bytes);
        char text[32];
        std::memset(text, '#', sizeof text);
        ASSERT_EQ(FormatStamp(bytes, text, sizeof text), kOk) << c.text;
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(text[21], '#');  // nothing beyond the closing zero
    }
}

TEST(Csp2Protocol, StampTextRefusesBadStampsAndShortBuffers) {
    uint8_t bytes[4];
    char text[21];
    for (const Stamp bad :
         {Stamp{2024, 0, 1, 1, 1, 1}, Stamp{2024, 13, 1, 1, 1, 1}, Stamp{2024, 1, 0, 1, 1, 1},
          Stamp{2024, 1, 1, 24, 1, 1}, Stamp{2024, 1, 1, 1, 60, 1}, Stamp{2024, 1, 1, 1, 1, 60}}) {
        EncodeStamp(bad, bytes);
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(FormatStamp(bytes, text, sizeof text), kBadStamp);
        EXPECT_EQ(text[0], '#');
    }
    EncodeStamp(kScan, bytes);
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(FormatStamp(bytes, text, 20), kBadArgument);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(FormatStamp(bytes, nullptr, 100), kBadArgument);
    EXPECT_EQ(FormatStamp(nullptr, text, 21), kBadArgument);
    EXPECT_EQ(FormatStamp(bytes, text, 21), kOk);
}

TEST(Csp2Protocol, FixedAnswersAreCheckedWhole) {
    Bytes interrogate = BuildAnswer({0x01, 0x00, 'S', 'N', '1', '2', '3', '4', '5', '6', 'F', 'W',
                                     ' ', '1', '.', '0', '0', ' '});
    ASSERT_EQ(interrogate.size(), 23u);
    EXPECT_EQ(AnswerLength(kInterrogate, interrogate.data(), 0), 23u);
    Interrogation info;
    ASSERT_EQ(ParseInterrogate(interrogate.data(), interrogate.size(), info), kOk);
    EXPECT_EQ(info.serial, "SN123456");
    EXPECT_EQ(info.firmware, "FW 1.00 ");

    Bytes damaged = interrogate;
    damaged[5] ^= 1;
    EXPECT_EQ(ParseInterrogate(damaged.data(), damaged.size(), info), kBadCrc);
    EXPECT_EQ(ParseInterrogate(interrogate.data(), 22, info), kBadCrc);
    EXPECT_EQ(ParseInterrogate(interrogate.data(), 0, info), kNoAnswer);
    // A well-formed frame of the wrong size is no interrogation answer.
    const Bytes empty = BuildAnswer({});
    EXPECT_EQ(ParseInterrogate(empty.data(), empty.size(), info), kMalformed);
    EXPECT_EQ(ParseEmpty(empty.data(), empty.size()), kOk);

    uint8_t value = 9;
    const Bytes param = BuildAnswer({0x02, kParamRtcMode, 0x01});
    EXPECT_EQ(ParseParameter(param.data(), param.size(), kParamRtcMode, value), kOk);
    EXPECT_EQ(value, 1);
    // The answer must name the parameter that was asked for.
    EXPECT_EQ(ParseParameter(param.data(), param.size(), kParamAsciiMode, value), kMalformed);

    // A NAK or other stray first byte ends the answer at once.
    const uint8_t nak[] = {0x15};
    EXPECT_EQ(AnswerLength(kInterrogate, nak, 1), 1u);
    EXPECT_EQ(CheckFrame(nak, 1), kMalformed);
}

TEST(Csp2Protocol, UploadRecordsAreCutByTheirLengthBytes) {
    const Bytes ean8 = MakeRecord(kSymbologyEan8, "40123455", kScan);
    const Bytes semi = MakeRecord(1, "K1;4711;5", kScan);
    const Bytes answer = UploadAnswer({ean8, semi});
    // The reader learns the length record by record.
    EXPECT_EQ(AnswerLength(kUpload, answer.data(), 10), 11u);
    EXPECT_EQ(AnswerLength(kUpload, answer.data(), 11), 10u + ean8.size() + 1);
    EXPECT_EQ(AnswerLength(kUpload, answer.data(), answer.size()), answer.size());

    Upload up;
    ASSERT_EQ(ParseUpload(answer.data(), answer.size(), up), kOk);
    EXPECT_EQ(up.serial, "SN000001");
    ASSERT_EQ(up.records.size(), 2u);
    EXPECT_EQ(up.records[0], ean8);
    EXPECT_EQ(up.records[1], semi);
    EXPECT_EQ(ean8[0] + 1u, ean8.size());

    const Bytes none = UploadAnswer({});
    ASSERT_EQ(ParseUpload(none.data(), none.size(), up), kOk);
    EXPECT_TRUE(up.records.empty());
}

TEST(Csp2Protocol, EveryBrokenUploadIsRefused) {
    const Bytes answer = UploadAnswer({MakeRecord(1, "4711", kScan), MakeRecord(1, "0815", kScan)});
    Upload up;
    // Every answer that stopped short fails, whatever it was cut at.
    for (size_t n = 0; n < answer.size(); ++n) {
        EXPECT_LT(ParseUpload(answer.data(), n, up), 0) << n;
        EXPECT_TRUE(up.records.empty());
    }
    // A record shorter than symbology and stamp is impossible, and the
    // reader stops at it instead of waiting for more.
    Bytes tiny = UploadAnswer({Bytes{3, 1, 2, 3}});
    EXPECT_EQ(AnswerLength(kUpload, tiny.data(), 11), 11u);
    EXPECT_EQ(ParseUpload(tiny.data(), tiny.size(), up), kMalformed);
    // A record that runs past the end of the answer.
    Bytes overrun = UploadAnswer({MakeRecord(1, "4711", kScan)});
    overrun[10] = 40;
    const uint16_t crc = Crc16(overrun.data(), overrun.size() - 2);
    overrun[overrun.size() - 2] = uint8_t(crc >> 8);
    overrun[overrun.size() - 1] = uint8_t(crc);
    EXPECT_EQ(ParseUpload(overrun.data(), overrun.size(), up), kMalformed);
}

// A scanner that goes on sending records must not grow the host's memory
// without end: the reader stops at the record that would pass the limit,
// and an answer longer than the limit is refused even with a sound CRC.
TEST(Csp2Protocol, AnUploadPastTheLimitIsNeitherReadToItsEndNorHeld) {
    const Bytes longest = MakeRecord(1, std::string(250, '7'), kScan);  // length byte 255
    ASSERT_EQ(longest.size(), 256u);
    const size_t records = kMaxUploadBytes / longest.size();
    const Bytes answer = UploadAnswer(std::vector<Bytes>(records, longest));
    ASSERT_GT(answer.size(), kMaxUploadBytes);

    // The last record's length byte is where the answer would pass the limit.
    const size_t last = 10 + (records - 1) * longest.size();
    EXPECT_GT(AnswerLength(kUpload, answer.data(), last), last);
    EXPECT_EQ(AnswerLength(kUpload, answer.data(), last + 1), last + 1);
    Upload up;
    EXPECT_LT(ParseUpload(answer.data(), last + 1, up), 0);
    EXPECT_EQ(ParseUpload(answer.data(), answer.size(), up), kTooLarge);
    EXPECT_TRUE(up.records.empty());
}

// Random bytes, and valid answers with random damage, never crash a parser,
// never read past their size (the sanitizer build checks), and are never
// taken for an answer unless their CRC holds.
TEST(Csp2Protocol, RandomBytesNeverPassForAnAnswer) {
    std::mt19937 rng(20240131);
    const Bytes valid =
        UploadAnswer({MakeRecord(1, "4711", kScan), MakeRecord(10, "12345670", kScan)});
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        Bytes b;
        if (round % 2) {
            b = valid;
            const size_t flips = 1 + rng() % 3;
            for (size_t k = 0; k < flips; ++k)
                b[rng() % b.size()] ^= uint8_t(1 + rng() % 255);
            b.resize(rng() % (b.size() + 1));
        } else {
            b.resize(rng() % 64);
            for (uint8_t& x : b)
                x = uint8_t(rng());
            if (b.size() > 2 && round % 4 == 0) {
                b[0] = 0x06;
                b[1] = 0x02;
            }
        }
        Upload up;
        if (ParseUpload(b.data(), b.size(), up) == kOk) {
            ++accepted;
            const uint16_t crc = Crc16(b.data(), b.size() - 2);
            EXPECT_EQ(b[b.size() - 2], crc >> 8);
            for (const Bytes& r : up.records)
                EXPECT_EQ(r.size(), r[0] + 1u);
        }
        Interrogation info;
        uint8_t value = 0;
        Clock clock;
        ParseInterrogate(b.data(), b.size(), info);
        ParseParameter(b.data(), b.size(), kParamAsciiMode, value);
        ParseClock(b.data(), b.size(), clock);
    }
    // A damaged CRC is caught; only the rare collision may slip through.
    EXPECT_LT(accepted, 5);
}

}  // namespace
}  // namespace csp2
