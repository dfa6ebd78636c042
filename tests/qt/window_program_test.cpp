// The whole window program, start-up to exit, in a child process: a fault
// while it runs shows the error reporter's question in the window's Yes/No
// box; Yes goes on, No ends the process with exit code 0. This test links the
// fault hook as the kelpie program does.
#include "app/qt/window_program.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/fault/fault_hook.h"
#include "app/program.h"
#include "app/qt/qt_text.h"
#include "app/qt/qt_window.h"
#include "fault/child_process.h"
#include "fault/dialog_seam.h"

namespace kelpie {
namespace {

using test::ChildOutcome;
using test::DialogField;
using test::MarkerLine;
using test::ReportChannel;
using test::RunInChild;

volatile int32_t gZero = 0;
volatile int32_t gSink = 0;

__attribute__((noinline)) int32_t DivideByZero(int32_t numerator) {
  return numerator / gZero;  // FAULT(window)
}

// Describes the box the error reporter shows, for the parent to check.
void ReportBox(const ReportChannel& channel, QMessageBox& box, const QtWindow& window) {
  channel.Send("title", FromQString(box.windowTitle()));
  channel.Send("text", FromQString(box.text()));
  const bool stopIcon = box.icon() == QMessageBox::Critical;
  const bool yesNo = box.standardButtons() == (QMessageBox::Yes | QMessageBox::No);
  const bool overWindow = box.parentWidget() == window.Widget() && box.isModal();
  channel.Send("box", std::string(stopIcon ? "stop" : "no stop") + (yesNo ? " yes/no" : "") +
                          (overWindow ? " modal to the window" : ""));
}

// Runs the window program with the Qt platform that needs no display. Once
// the window is shown, `faults` divisions by zero happen inside the main
// loop, the reporter's boxes are answered from answers, and the window is
// closed.
int RunFaultingProgram(const ReportChannel& channel, std::vector<bool> answers, int faults) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "kelpie";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  size_t asked = 0;
  const int code = RunWindowProgram([&](QtWindow& window, Program& program) {
    channel.Send("started", window.Widget()->isVisible() ? "shown" : "hidden");
    window.SetDialogRunner([&](QDialog& dialog) {
      auto* box = qobject_cast<QMessageBox*>(&dialog);
      if (!box) return int(QDialog::Rejected);
      ReportBox(channel, *box, window);
      const bool yes = asked < answers.size() && answers[asked];
      ++asked;
      return int(yes ? QMessageBox::Yes : QMessageBox::No);
    });
    QTimer::singleShot(0, window.Widget(), [&] {
      for (int fault = 0; fault < faults; ++fault) {
        gSink = DivideByZero(7);
        channel.Send("carried on", std::to_string(program.QuitRequested));
      }
      window.Widget()->close();
    });
  });
  channel.Send("returned", std::to_string(code));
  return code;
}

#define SKIP_WITHOUT_HOOK() \
  if (!FaultHookInstalled()) GTEST_SKIP() << "the sanitizer build leaves faults to the sanitizer"

TEST(WindowProgram, AFaultAsksInTheWindowsStopBoxAndYesGoesOn) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild([](const ReportChannel& channel) {
    return RunFaultingProgram(channel, {true, true}, 2);
  });
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.Reports("started"), std::vector<std::string>{"shown"});
  EXPECT_EQ(outcome.Reports("title"), (std::vector<std::string>{"Error!", "Error!"}));
  EXPECT_EQ(outcome.Reports("box"), std::vector<std::string>(2, "stop yes/no modal to the window"));
  const std::vector<std::string> texts = outcome.Reports("text");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(texts[0].starts_with("There was an error:\r\n\r\nDescription: "));
  EXPECT_TRUE(texts[0].ends_with("\r\n\r\nContinue program ?"));
  EXPECT_EQ(DialogField(texts[0], "Description"), "Attempted division by zero");
  EXPECT_EQ(DialogField(texts[0], "Module"), "Kelpie");
  EXPECT_EQ(DialogField(texts[0], "LineNR"), std::to_string(MarkerLine(__FILE__, "window")));
  EXPECT_EQ(DialogField(texts[0], "Total number of errors"), "1");
  EXPECT_EQ(DialogField(texts[1], "Total number of errors"), "2");
  // Both faults were passed; then closing the window ended the program.
  EXPECT_EQ(outcome.Reports("carried on"), (std::vector<std::string>{"0", "0"}));
  EXPECT_EQ(outcome.Reports("returned"), std::vector<std::string>{"0"});
}

TEST(WindowProgram, NoEndsTheProgramAtOnceWithExitCodeZero) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild(
      [](const ReportChannel& channel) { return RunFaultingProgram(channel, {false}, 2); });
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.Reports("text").size(), 1u);
  EXPECT_FALSE(outcome.Has("carried on"));
  EXPECT_FALSE(outcome.Has("returned"));
}

TEST(WindowProgram, ClosingTheWindowEndsItWithExitCodeZero) {
  const ChildOutcome outcome =
      RunInChild([](const ReportChannel& channel) { return RunFaultingProgram(channel, {}, 0); });
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.Reports("started"), std::vector<std::string>{"shown"});
  EXPECT_FALSE(outcome.Has("text"));
  EXPECT_EQ(outcome.Reports("returned"), std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace kelpie
