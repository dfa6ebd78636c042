#include "app/qt/dialogs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTest>

#include "app/qt/qt_window.h"
#include "protocol/peer_state.h"
#include "qt_test_app.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

class DialogsTest : public ::testing::Test {
 protected:
  // Answers the next dialog with answer after letting inspect look at it.
  template <class DialogType, class Inspect>
  void Answer(Inspect inspect) {
    window.SetDialogRunner([this, inspect](QDialog& dialog) {
      ++shown;
      auto* typed = qobject_cast<DialogType*>(&dialog);
      if (!typed) {
        ADD_FAILURE() << "unexpected dialog " << dialog.metaObject()->className();
        return int(QDialog::Rejected);
      }
      return inspect(*typed);
    });
  }

  PeerState state;
  QtWindow window{state};
  test::TempDir dir;
  int shown = 0;
};

TEST_F(DialogsTest, OpenFileStartsInTheFolderWithTheFilterAndGivesThePath) {
  const std::string file = dir.Write("input.bin", {1, 2, 3});
  const QString folder = QString::fromStdString(dir.path().string());
  Answer<QFileDialog>([&](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Datei ausw\xc3\xa4hlen"));
    EXPECT_EQ(dialog.directory().absolutePath(), QDir(folder).absolutePath());
    EXPECT_EQ(dialog.nameFilters(), QStringList{"* (*)"});
    EXPECT_EQ(dialog.selectedNameFilter(), "* (*)");
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    dialog.selectFile(QString::fromStdString(file));
    return int(QDialog::Accepted);
  });
  EXPECT_EQ(window.OpenFileDialog("Datei ausw\xc3\xa4hlen", dir.path().string(), "*|*"), file);
  EXPECT_EQ(shown, 1);
}

TEST_F(DialogsTest, OpenFileCancelledGivesEmptyText) {
  Answer<QFileDialog>([](QFileDialog&) { return int(QDialog::Rejected); });
  EXPECT_EQ(window.OpenFileDialog("Datei ausw\xc3\xa4hlen", dir.path().string(), "*|*"), "");
}

TEST_F(DialogsTest, OpenFileFromAFolderThatDoesNotExistStartsAtHome) {
  Answer<QFileDialog>([](QFileDialog& dialog) {
    EXPECT_EQ(dialog.directory().absolutePath(), QDir::home().absolutePath());
    return int(QDialog::Rejected);
  });
  window.OpenFileDialog("Datei ausw\xc3\xa4hlen", "C:\\", "*|*");
}

TEST_F(DialogsTest, SaveFileProposesThePathAndNeverAsksToOverwrite) {
  const std::string existing = dir.Write("local copy.bin", {9});
  Answer<QFileDialog>([&](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Save file");
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.nameFilters(), QStringList{"*"});
    EXPECT_EQ(dialog.directory().absolutePath(),
              QDir(QString::fromStdString(dir.path().string())).absolutePath());
    const QStringList selected = dialog.selectedFiles();
    EXPECT_EQ(selected, QStringList{QString::fromStdString(existing)});
    return int(QDialog::Accepted);
  });
  EXPECT_EQ(window.SaveFileDialog("Save file", existing, "*"), existing);
}

TEST_F(DialogsTest, SaveFileCancelledGivesEmptyText) {
  Answer<QFileDialog>([](QFileDialog&) { return int(QDialog::Rejected); });
  EXPECT_EQ(window.SaveFileDialog("Save file", (dir.path() / "x.bin").string(), "*"), "");
}

// The program's loop waits while the user chooses; what must not wait
// (keep-alives to the peers) is called from the dialog's own event loop.
TEST_F(DialogsTest, FileDialogsKeepCallingWhatMustGoOnWhileOpen) {
  int ticks = 0;
  window.SetWhileDialogOpen([&] { ++ticks; });
  Answer<QFileDialog>([](QFileDialog&) {
    QTest::qWait(1300);
    return int(QDialog::Rejected);
  });
  window.SaveFileDialog("Save file", (dir.path() / "out.bin").string(), "*");
  EXPECT_GE(ticks, 1);
  const int afterClose = ticks;
  QTest::qWait(1100);
  EXPECT_EQ(ticks, afterClose);
}

TEST_F(DialogsTest, AskYesNoShowsAStopBoxAndReportsTheAnswer) {
  for (auto answer : {QMessageBox::Yes, QMessageBox::No}) {
    Answer<QMessageBox>([answer](QMessageBox& box) {
      EXPECT_EQ(box.icon(), QMessageBox::Critical);
      EXPECT_EQ(box.windowTitle(), "Error");
      EXPECT_EQ(box.text(), "Line 12: fault. Continue?");
      EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
      EXPECT_TRUE(box.isModal());
      return int(answer);
    });
    EXPECT_EQ(window.AskYesNo("Error", "Line 12: fault. Continue?"), answer == QMessageBox::Yes);
  }
}

TEST(QtNameFilters, TranslateWindowsStyleFilters) {
  struct Case {
    const char* filter;
    QStringList expected;
  };
  const Case cases[] = {
      {"*|*", {"* (*)"}}, {"*", {"*"}},
      {"", {}},           {"Text|*.txt;*.log|All|*", {"Text (*.txt *.log)", "All (*)"}},
      {"Broken|", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(QtNameFilters(c.filter), c.expected) << c.filter;
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
