#include "app/peer_options.h"

#include <gtest/gtest.h>

namespace kelpie {
namespace {

PeerArguments Parse(std::vector<std::string_view> args) {
  return ParsePeerArguments(args);
}

TEST(PeerOptions, AcceptsRolesAndFiles) {
  PeerArguments a = Parse({"--listen", "0", "--connect", "example.org:7000", "x.bin", "y.bin"});
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(a.options.listenPort, 0);
  EXPECT_EQ(a.options.connectHost, "example.org");
  EXPECT_EQ(a.options.connectPort, 7000);
  EXPECT_EQ(a.options.files, (std::vector<std::string>{"x.bin", "y.bin"}));
  PeerArguments b = Parse({"--connect", "10.0.0.1"});
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(b.options.connectPort, 2031);
  EXPECT_FALSE(b.options.listenPort);
  EXPECT_TRUE(Parse({"--help"}).options.help);
}

TEST(PeerOptions, RejectsBadArguments) {
  for (auto args : std::vector<std::vector<std::string_view>>{{},
                                                              {"x.bin"},
                                                              {"--listen"},
                                                              {"--listen", "65536"},
                                                              {"--listen", "12a"},
                                                              {"--listen", "-1"},
                                                              {"--connect", ":2031"},
                                                              {"--connect", "host:"},
                                                              {"--connect", "host:99999"},
                                                              {"--verbose", "--listen", "1"}}) {
    EXPECT_NE(Parse(args).error, "") << (args.empty() ? "(none)" : args[0]);
  }
}

TEST(PeerOptions, NetVersionIsOneOrTwo) {
  EXPECT_EQ(Parse({"--listen", "0"}).options.netVersion, 2);
  PeerArguments one = Parse({"--netversion", "1", "--listen", "0"});
  ASSERT_EQ(one.error, "");
  EXPECT_EQ(one.options.netVersion, 1);
  for (std::string_view bad : {"0", "3", "2x", ""}) {
    EXPECT_NE(Parse({"--listen", "0", "--netversion", bad}).error, "") << bad;
  }
  EXPECT_NE(Parse({"--listen", "0", "--netversion"}).error, "");
}

TEST(PeerOptions, KeyFilesForSecureModeAndForANewKey) {
  PeerArguments secure = Parse({"--key", "k", "--listen", "0"});
  ASSERT_EQ(secure.error, "");
  EXPECT_EQ(secure.options.keyFile, "k");
  PeerArguments fresh = Parse({"--new-key", "k"});
  ASSERT_EQ(fresh.error, "");
  EXPECT_EQ(fresh.options.newKeyFile, "k");
  for (auto args : std::vector<std::vector<std::string_view>>{{"--key", "k"},
                                                              {"--key", "", "--listen", "0"},
                                                              {"--listen", "0", "--key"},
                                                              {"--new-key", ""},
                                                              {"--new-key", "k", "--listen", "0"},
                                                              {"--new-key", "k", "x.bin"},
                                                              {"--new-key", "k", "--key", "j"}}) {
    EXPECT_NE(Parse(args).error, "") << args.size();
  }
}

TEST(PeerOptions, FetchIsAClientOfOneServer) {
  PeerArguments fetch = Parse({"--connect", "h:7", "--fetch", "a/b.bin", "--to", "b.bin"});
  ASSERT_EQ(fetch.error, "");
  EXPECT_EQ(fetch.options.fetchRemote, "a/b.bin");
  EXPECT_EQ(fetch.options.fetchTo, "b.bin");
  for (auto args : std::vector<std::vector<std::string_view>>{
           {"--connect", "h", "--fetch", "r"},
           {"--connect", "h", "--to", "l"},
           {"--fetch", "r", "--to", "l"},
           {"--connect", "h", "--fetch", "", "--to", "l"},
           {"--connect", "h", "--fetch", "r", "--to", "l", "--listen", "0"},
           {"--connect", "h", "--fetch", "r", "--to", "l", "x.bin"},
           {"--new-key", "k", "--fetch", "r", "--to", "l"}}) {
    EXPECT_NE(Parse(args).error, "") << args.size();
  }
}

}  // namespace
}  // namespace kelpie
