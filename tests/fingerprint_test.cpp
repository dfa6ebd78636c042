#include "compare/fingerprint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kelpie {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

struct Md5Vector {
  const char* input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
class RangeFingerprintRfc : public ::testing::TestWithParam<Md5Vector> {};

TEST_P(RangeFingerprintRfc, MatchesPublishedDigest) {
  EXPECT_EQ(RangeFingerprint(Bytes(GetParam().input)), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc1321, RangeFingerprintRfc,
    ::testing::Values(
        Md5Vector{"", "d41d8cd98f00b204e9800998ecf8427e"},
        Md5Vector{"a", "0cc175b9c0f1b6a831c399e269772661"},
        Md5Vector{"abc", "900150983cd24fb0d6963f7d28e17f72"},
        Md5Vector{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        Md5Vector{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        Md5Vector{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                  "d174ab98d277d9f5a5611c2c9f419d9f"},
        Md5Vector{"1234567890123456789012345678901234567890123456789012345678901234567890"
                  "1234567890",
                  "57edf4a22be3c955ac49da2e2107b67a"}));

TEST(DigestText, RoundTripsAndRejectsMalformedText) {
  Md5Digest digest = RangeDigest(Bytes("abc"));
  std::string text = DigestText(digest);
  Md5Digest parsed{};
  ASSERT_TRUE(ParseDigestText(text, parsed));
  EXPECT_EQ(parsed, digest);
  EXPECT_FALSE(ParseDigestText("900150983CD24FB0D6963F7D28E17F72", parsed));  // upper case
  EXPECT_FALSE(ParseDigestText("900150983cd24fb0d6963f7d28e17f7", parsed));   // 31 digits
  EXPECT_FALSE(ParseDigestText("", parsed));
}

class FileFingerprintSize : public ::testing::TestWithParam<size_t> {};

// Chunk edges: one chunk, exactly one chunk, one byte into a second.
TEST_P(FileFingerprintSize, EqualsFingerprintOfTheSameBytesInMemory) {
  test::TempDir dir;
  std::vector<uint8_t> bytes = test::RandomBytes(GetParam(), 7);
  std::string path = dir.Write("file.bin", bytes);
  EXPECT_EQ(FileFingerprint(path), RangeFingerprint(bytes));
}

INSTANTIATE_TEST_SUITE_P(ChunkEdges, FileFingerprintSize,
                         ::testing::Values(0, 1, 999999, 1000000, 1000001, 2500000));

TEST(FileFingerprint, IsEmptyForMissingPathsAndDirectories) {
  test::TempDir dir;
  EXPECT_EQ(FileFingerprint(""), "");
  EXPECT_EQ(FileFingerprint((dir.path() / "no-such-file").string()), "");
  EXPECT_EQ(FileFingerprint(dir.path().string()), "");
}

TEST(StartLong, ReadsLittleEndianAndZeroFillsPastTheEnd) {
  std::vector<uint8_t> data = {0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF};
  EXPECT_EQ(StartLong(data, 0), 0x04030201);
  EXPECT_EQ(StartLong(data, 2), static_cast<int32_t>(0xFFFE0403u));
  EXPECT_EQ(StartLong(data, 4), 0x0000FFFE);
  EXPECT_EQ(StartLong(data, 5), 0x000000FF);
  EXPECT_EQ(StartLong(data, 6), 0);
  EXPECT_EQ(StartLong({}, 0), 0);
}

}  // namespace
}  // namespace kelpie
