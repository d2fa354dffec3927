#include "ShareHostWindow.hpp"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "PanelLayout.hpp"

namespace lumo {
namespace {

using PanelLayout::button;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

QString timeText(std::optional<std::int64_t> ms) {
  return ms ? qs(ShareDateFormat::localTime(*ms, "yyyy-MM-dd HH:mm")) : QStringLiteral("now");
}

QTableWidget* table(const char* name, const QStringList& headers) {
  auto* view = new QTableWidget(0, static_cast<int>(headers.size()));
  view->setObjectName(QString::fromLatin1(name));
  view->setHorizontalHeaderLabels(headers);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->hide();
  view->horizontalHeader()->setStretchLastSection(true);
  return view;
}

void setRow(QTableWidget* view, int row, const QStringList& cells, const std::string& key) {
  for (int column = 0; column < cells.size(); ++column) {
    auto* item = new QTableWidgetItem(cells[column]);
    item->setData(Qt::UserRole, qs(key));
    item->setToolTip(cells[column]);
    view->setItem(row, column, item);
  }
}

}  // namespace

ShareHostWindow::ShareHostWindow(ShareHostSession host, std::shared_ptr<SharePanelWorkers> workers,
                                 QWidget* parent)
    : QWidget(parent), host_(std::move(host)), workers_(std::move(workers)) {
  buildViews();
  reload();
}

void ShareHostWindow::buildViews() {
  setWindowTitle(QStringLiteral("Lumo Share"));
  resize(760, 560);
  auto* layout = new QVBoxLayout(this);

  auto* account = new QHBoxLayout;
  accountLabel_ = new QLabel;
  accountLabel_->setObjectName(QStringLiteral("accountLabel"));
  tokenField_ = new QLineEdit;
  tokenField_->setObjectName(QStringLiteral("tokenField"));
  tokenField_->setPlaceholderText(QStringLiteral("Paste a sign-in token or lumoshare:// link"));
  tokenField_->setEchoMode(QLineEdit::Password);
  signInButton_ = button("signInButton", QStringLiteral("Sign in"), [this] { signIn(); });
  signOutButton_ = button("signOutButton", QStringLiteral("Sign out"), [this] { signOut(); });
  account->addWidget(accountLabel_, 1);
  account->addWidget(tokenField_, 1);
  account->addWidget(signInButton_);
  account->addWidget(signOutButton_);
  layout->addLayout(account);

  activityLabel_ = new QLabel;
  activityLabel_->setObjectName(QStringLiteral("activityLabel"));
  activityLabel_->setWordWrap(true);
  activityBar_ = new QProgressBar;
  activityBar_->setRange(0, 0);
  activityBar_->setMaximumHeight(6);
  activityBar_->setTextVisible(false);
  activityBar_->hide();
  layout->addWidget(activityLabel_);
  layout->addWidget(activityBar_);

  layout->addWidget(new QLabel(QStringLiteral("<b>Waiting to be published</b>")));
  queueTable_ = table("queueTable", {"Share", "State", "Attempts", "Next attempt", "Last error"});
  layout->addWidget(queueTable_, 1);
  auto* retry = button("retryButton", QStringLiteral("Retry now"), [this] { retrySelected(); });
  auto* remove = button("removeButton", QStringLiteral("Remove"), [this] { removeSelected(); });
  layout->addLayout(PanelLayout::row({retry, remove}, Qt::AlignRight));

  layout->addWidget(new QLabel(QStringLiteral("<b>Recent uploads</b>")));
  recentTable_ = table("recentTable", {"Link", "Title", "Expires", "Claim"});
  layout->addWidget(recentTable_, 1);
  auto* copy = button("copyButton", QStringLiteral("Copy link"), [this] { copySelected(); });
  auto* open = button("openButton", QStringLiteral("Open in browser"), [this] { openSelected(); });
  layout->addLayout(PanelLayout::row({copy, open}, Qt::AlignRight));

  connect(tokenField_, &QLineEdit::returnPressed, this, [this] { signIn(); });
}

void ShareHostWindow::reload() {
  showSignIn();
  const auto shares = host_.uploads.queue->all();
  queueTable_->setRowCount(static_cast<int>(shares.size()));
  for (int row = 0; row < static_cast<int>(shares.size()); ++row) {
    const auto& entry = shares[static_cast<std::size_t>(row)].entry;
    setRow(queueTable_, row,
           {qs(entry.staged.displayTitle), QString::fromLatin1(shareQueueStateName(entry.state)),
            QString::number(entry.attempts), timeText(entry.nextAttemptAtMs),
            qs(entry.lastError.value_or(""))},
           entry.staged.clientShareId);
  }
  const auto records = host_.uploads.queue->recentUploads(100);
  recentTable_->setRowCount(static_cast<int>(records.size()));
  for (int row = 0; row < static_cast<int>(records.size()); ++row) {
    const auto& record = records[static_cast<std::size_t>(row)];
    setRow(recentTable_, row,
           {qs(record.shortUrl), qs(record.title), timeText(record.expiresAtMs),
            record.anonymous ? qs(record.claimState) : QStringLiteral("account")},
           record.shortUrl);
  }
  queueTable_->resizeColumnsToContents();
  recentTable_->resizeColumnsToContents();
}

void ShareHostWindow::showSignIn() {
  const auto state = host_.uploads.tokenState();
  const auto plan = SharePlanStore{host_.uploads.queue->storage()}.load(currentTimeMs());
  QString text = state == ShareUploadSession::TokenState::signedIn ? QStringLiteral("Signed in")
                 : state == ShareUploadSession::TokenState::expired
                     ? QStringLiteral("Sign-in expired: paste a new token")
                     : QStringLiteral("Not signed in: shares go out anonymously");
  if (plan && state == ShareUploadSession::TokenState::signedIn) {
    text += QStringLiteral(" · plan ") + qs(plan->displayName());
  }
  accountLabel_->setText(text);
  signOutButton_->setEnabled(state != ShareUploadSession::TokenState::signedOut);
}

void ShareHostWindow::synchronise() {
  began(QStringLiteral("Refreshing the plan, binding anonymous uploads, publishing the queue…"));
  workers_->run(
      this,
      [host = host_](std::stop_token stop) {
        SyncResult result;
        try {
          if (const auto plan = host.refreshPlan()) result.planText = plan->displayName();
        } catch (const ShareUploadError& error) {
          result.planText = "not refreshed: " + error.message();
        } catch (const std::exception& error) {
          result.planText = std::string("not refreshed: ") + error.what();
        }
        result.bind = host.bindPending();
        result.drain = host.uploads.drain(20, false, stop);
        return result;
      },
      [this](SyncResult result) {
        auto text = fmt::format("{} published, {} failed, {} waiting", result.drain.uploaded.size(),
                                result.drain.failures.size(), result.drain.skipped);
        if (result.bind && result.bind->didChange()) {
          text += fmt::format("; claims: {} bound, {} refused{}", result.bind->bound,
                              result.bind->failed,
                              result.bind->failure ? ", stopped: " + *result.bind->failure : "");
        }
        if (!result.planText.empty()) text += "; plan " + result.planText;
        ended(qs(text));
      });
}

void ShareHostWindow::signIn() {
  const auto token = TokenImport::anyForm(tokenField_->text().toStdString());
  if (!token) {
    activityLabel_->setText(QStringLiteral("That is no sign-in token; nothing was changed."));
    return;
  }
  try {
    host_.uploads.tokenStore.save(*token);
  } catch (const std::exception& error) {
    activityLabel_->setText(QStringLiteral("The token could not be stored: ") + error.what());
    return;
  }
  tokenField_->clear();
  synchronise();  // a new account: its plan, its claims and what waited for it
}

void ShareHostWindow::signOut() {
  host_.uploads.tokenStore.clear();
  SharePlanStore{host_.uploads.queue->storage()}.clear();
  activityLabel_->setText(QStringLiteral("Signed out."));
  reload();
}

void ShareHostWindow::retrySelected() {
  const auto id = selectedShareId();
  if (id.empty()) return;
  began(QStringLiteral("Publishing the share again…"));
  workers_->run(
      this,
      [session = host_.uploads, id](std::stop_token stop) {
        return session.uploadNow(id, std::nullopt, stop);
      },
      [this](ShareUploadSession::UploadResult result) {
        const auto* outcome = std::get_if<ShareUploadOutcome>(&result);
        ended(outcome ? QStringLiteral("Published: ") + qs(outcome->shortUrl)
                      : qs(std::get<ShareUploadError>(result).message()));
      });
}

void ShareHostWindow::removeSelected() {
  const auto id = selectedShareId();
  if (id.empty()) return;
  try {
    activityLabel_->setText(host_.uploads.queue->remove(id)
                                ? QStringLiteral("Removed from the queue.")
                                : QStringLiteral("It is being published right now; not removed."));
  } catch (const std::exception& error) {
    activityLabel_->setText(QStringLiteral("Could not remove it: ") + error.what());
  }
  reload();
}

void ShareHostWindow::copySelected() {
  const auto link = selectedLink();
  if (link.empty()) return;
  QGuiApplication::clipboard()->setText(qs(link));
  activityLabel_->setText(QStringLiteral("Copied ") + qs(link));
}

void ShareHostWindow::openSelected() {
  const auto link = selectedLink();
  if (!link.empty() && Url::parse(link)) QDesktopServices::openUrl(QUrl(qs(link)));
}

std::string ShareHostWindow::selectedShareId() const {
  const auto* item = queueTable_->currentItem();
  return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

std::string ShareHostWindow::selectedLink() const {
  const auto* item = recentTable_->currentItem();
  return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

void ShareHostWindow::began(const QString& what) {
  ++busy_;
  activityLabel_->setText(what);
  activityBar_->show();
}

void ShareHostWindow::ended(const QString& what) {
  busy_ = std::max(0, busy_ - 1);
  activityLabel_->setText(what);
  activityBar_->setVisible(busy_ > 0);
  reload();
}

}  // namespace lumo
