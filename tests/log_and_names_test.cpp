// The log box's bound, row titles, file name parts and decimal values.
#include <gtest/gtest.h>

#include "app/job_titles.h"
#include "app/log_text.h"
#include "protocol/file_name.h"

namespace kelpie {
namespace {

TEST(LogText, FirstLineGoesUnderTheTitle) {
  EXPECT_EQ(AppendLogLine("KLPE Version 1.02 by Morwen", "Comparison finished!"),
            "KLPE Version 1.02 by Morwen\r\nComparison finished!");
}

// The old text is cut to its last 20000 characters wherever that falls: at
// the limit, one past it, and inside a line.
TEST(LogText, KeepsTheLast20000CharactersOfTheOldText) {
  std::string lines;
  while (lines.size() < 30000)
    lines += "Server: 'OK' (Hello)\r\n";
  struct Case {
    std::string old;
    std::string kept;
  };
  for (const Case& c : {Case{std::string(20000, 'x'), std::string(20000, 'x')},
                        Case{"y" + std::string(20000, 'x'), std::string(20000, 'x')},
                        Case{lines, lines.substr(lines.size() - 20000)}}) {
    EXPECT_EQ(AppendLogLine(c.old, "new"), c.kept + "\r\nnew");
  }
}

TEST(LogText, CutBetweenCarriageReturnAndLineFeed) {
  std::string old = std::string(100, 'a') + "\r" + "\n" + std::string(19999, 'b');
  std::string result = AppendLogLine(old, "z");
  EXPECT_EQ(result.substr(0, 1), "\n");
  EXPECT_EQ(result.size(), 20000u + 3);
}

TEST(FileNamePart, TakesTheTextAfterTheLastSeparator) {
  struct Case {
    const char* path;
    const char* name;
  };
  for (Case c : {Case{"C:\\data\\data.bin", "data.bin"}, Case{"/home/u/data.bin", "data.bin"},
                 Case{"data.bin", "data.bin"}, Case{"\"C:\\x\\q.txt\"", "q.txt"},
                 Case{"\"quoted.txt\"", "quoted.txt"}, Case{"dir/", ""}, Case{"", ""},
                 Case{"a\\b/c", "c"}, Case{"a/b\\c", "c"}, Case{"/x/na\"me", "na"}}) {
    EXPECT_EQ(FileNamePart(c.path), c.name) << c.path;
  }
}

TEST(DecimalValue, ReadsLikeTheFieldsAreMeantToBeRead) {
  struct Case {
    const char* text;
    int32_t value;
  };
  for (Case c : {Case{"2031", 2031}, Case{"", 0}, Case{"  42x", 42}, Case{"-7", -7}, Case{"+8", 8},
                 Case{"x1", 0}, Case{"99999999999", 2147483647}, Case{" - 1", 0}}) {
    EXPECT_EQ(DecimalValue(c.text), c.value) << c.text;
  }
}

TEST(JobRowTitle, NamesThePeerAndBothFiles) {
  CompareJob initiator;
  initiator.localFile.path = "/home/u/mine.bin";
  initiator.remoteFile = JobFile{"C:\\x\\theirs.bin", 5};
  EXPECT_EQ(JobRowTitle(initiator), "Compare: \"mine.bin\" And \"theirs.bin\"");
  CompareJob responder;
  responder.localFile.path = "/srv/offered.bin";
  responder.peer = 3;
  EXPECT_EQ(JobRowTitle(responder), "Compare(3): \"offered.bin\"");
}

}  // namespace
}  // namespace kelpie
