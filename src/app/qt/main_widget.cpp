#include "app/qt/main_widget.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include "app/qt/controls.h"
#include "app/qt/progress_delegate.h"
#include "app/qt/role_label.h"
#include "app/window_controls.h"

namespace kelpie {
namespace {

constexpr int W = MainWidget::kClientWidth;
constexpr int H = MainWidget::kClientHeight;
const QStringList kFileColumns{QStringLiteral("Files"), QStringLiteral("MD5")};
const QList<int> kFileColumnWidths{175, 150};

QString StartText(int id) {
  return QString::fromUtf8(ControlStartText(id));
}

}  // namespace

MainWidget::MainWidget(const PeerState& state) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setFixedSize(W, H);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  BuildControls(state);
}

void MainWidget::BuildControls(const PeerState& state) {
  // Creation order sets the keyboard focus order: log box, command buttons,
  // the top row, then the two role columns and the job list.
  controls_[kLogBox] = MakeLogBox(this, kLogBox, QRect(5, H - 70, W - 10, 65), StartText(kLogBox));
  const int commandTop = H - 95;
  controls_[kAddFileButton] = MakeButton(this, kAddFileButton, QRect(5, commandTop, W / 3 - 10, 20),
                                         StartText(kAddFileButton));
  controls_[kCompareButton] = MakeButton(
      this, kCompareButton, QRect(W / 3, commandTop, W / 3 - 5, 20), StartText(kCompareButton));
  controls_[kSyncButton] = MakeButton(
      this, kSyncButton, QRect(2 * W / 3, commandTop, W / 3 - 5, 20), StartText(kSyncButton));
  for (int id : {kAddFileButton, kCompareButton, kSyncButton})
    controls_[id]->setEnabled(ControlStartsEnabled(id));

  controls_[kServerButton] =
      MakeButton(this, kServerButton, QRect(5, 5, 90, 20), StartText(kServerButton));
  controls_[kHostField] = MakeField(this, kHostField, QRect(250, 5, 120, 20), StartText(kHostField),
                                    /*digitsOnly=*/false);
  controls_[kPortField] =
      MakeField(this, kPortField, QRect(375, 5, 50, 20), StartText(kPortField), true);
  controls_[kConnectButton] =
      MakeButton(this, kConnectButton, QRect(545, 5, 90, 20), StartText(kConnectButton));

  BuildRoleColumn(state, kServerLabel, kServerFiles, kServerRefresh, 5);
  BuildRoleColumn(state, kClientLabel, kClientFiles, kClientRefresh, W / 2);

  const QRect files = controls_[kClientFiles]->geometry();
  const int jobTop = files.y() + files.height() + 30;
  const int jobHeight = controls_[kLogBox]->geometry().y() - jobTop - 30;
  auto* jobs = MakeListView(this, kJobList, QRect(5, jobTop, W - 10, jobHeight),
                            {QStringLiteral("Action"), QStringLiteral("Progress")}, {200, 425});
  jobs->setItemDelegate(new ProgressDelegate(state, jobs));
  controls_[kJobList] = jobs;
}

void MainWidget::BuildRoleColumn(const PeerState& state, int labelId, int listId, int refreshId,
                                 int x) {
  const bool server = labelId == kServerLabel;
  auto colour = [&state, server] {
    return server ? ServerLabelColour(state) : ClientLabelColour(state);
  };
  auto* label = new RoleLabel(StartText(labelId), colour, this);
  label->setObjectName(QStringLiteral("control%1").arg(labelId));
  label->setGeometry(x, 30, W / 2 - 10, 20);
  label->setFont(RoleLabelFont());
  controls_[labelId] = label;

  controls_[listId] =
      MakeListView(this, listId, QRect(x, 55, W / 2 - 10, 200), kFileColumns, kFileColumnWidths);
  const QRect list = controls_[listId]->geometry();
  controls_[refreshId] =
      MakeButton(this, refreshId, QRect(x, list.y() + list.height() + 5, list.width(), 20),
                 StartText(refreshId));
  controls_[refreshId]->setEnabled(ControlStartsEnabled(refreshId));
}

void MainWidget::CentreOnScreen() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void MainWidget::ShowCentred() {
  CentreOnScreen();
  show();
  // Only a shown window knows its frame; centre that.
  CentreOnScreen();
}

QWidget* MainWidget::Control(int id) const {
  return id >= 0 && id < kControlCount ? controls_[id] : nullptr;
}

void MainWidget::SetCloseHandler(std::function<void()> handler) {
  onClose_ = std::move(handler);
}

void MainWidget::closeEvent(QCloseEvent* event) {
  // The window stays; the main loop ends the program after its pass.
  event->ignore();
  if (onClose_) onClose_();
}

}  // namespace kelpie
