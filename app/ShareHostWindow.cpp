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
using ShareL10n::marked;
namespace TakeBack = SharePanelText::TakeBack;

// Deleting a recent upload at the service.
constexpr const char* deleteAction = marked("删除");
constexpr const char* deleteQuestion = marked("删除「%@」？");
constexpr const char* deleteQuestionUntitled = marked("删除这条分享？");
constexpr const char* deletingText = marked("正在删除 %@…");
constexpr const char* deletedText = marked("已删除 %@，链接已失效。");
constexpr const char* alreadyGoneText = marked("%@ 已过期或已被删除，已从列表移除。");
constexpr const char* notDeletedText = marked("没有删除 %@：%@");
constexpr const char* recordGone = marked("这条上传记录已不在了。");

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

QString heading(const char* chinese) {
  return QStringLiteral("<b>") + qs(ShareL10n::tr(chinese)).toHtmlEscaped() +
         QStringLiteral("</b>");
}

QString timeText(std::optional<std::int64_t> ms) {
  return ms ? qs(ShareDateFormat::localTime(*ms, "yyyy-MM-dd HH:mm")) : qs(ShareL10n::tr("现在"));
}

QString stateText(ShareQueueEntry::State state) {
  switch (state) {
    case ShareQueueEntry::State::queued:
      return qs(ShareL10n::tr("排队中"));
    case ShareQueueEntry::State::uploading:
      return qs(ShareL10n::tr("上传中"));
    case ShareQueueEntry::State::failed:
      break;
  }
  return qs(ShareL10n::tr("失败"));
}

/// Whose upload it is: the account's, or an anonymous one in its claim state.
QString claimText(const ShareUploadRecord& record) {
  if (!record.anonymous) return qs(ShareL10n::tr("账号"));
  if (record.claimState == ClaimStateValues::bound)
    return qs(ShareL10n::tr(ShareHostWindow::claimBound));
  if (record.claimState == ClaimStateValues::failed) return qs(ShareL10n::tr("认领失败"));
  return qs(ShareL10n::tr("待认领"));
}

QStringList headers(std::initializer_list<const char*> chinese) {
  QStringList texts;
  for (const auto* text : chinese) texts << qs(ShareL10n::tr(text));
  return texts;
}

/// A table of whole rows, one selected at a time, filling its width: the `stretching` columns
/// share what the others, as wide as their content, leave.
QTableWidget* table(const char* name, const QStringList& headers,
                    std::initializer_list<int> stretching) {
  auto* view = new QTableWidget(0, static_cast<int>(headers.size()));
  view->setObjectName(QString::fromLatin1(name));
  view->setHorizontalHeaderLabels(headers);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->hide();
  auto* header = view->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::ResizeToContents);
  for (const int column : stretching) header->setSectionResizeMode(column, QHeaderView::Stretch);
  return view;
}

/// The row whose cells carry `key`, or -1.
int rowOf(const QTableWidget* view, const QString& key) {
  for (int row = 0; row < view->rowCount(); ++row) {
    if (view->item(row, 0) && view->item(row, 0)->data(Qt::UserRole).toString() == key) return row;
  }
  return -1;
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
  tokenField_->setPlaceholderText(qs(ShareL10n::tr("粘贴登录令牌或 lumoshare:// 链接")));
  tokenField_->setEchoMode(QLineEdit::Password);
  signInButton_ = button("signInButton", qs(ShareL10n::tr("登录")), [this] { signIn(); });
  signOutButton_ = button("signOutButton", qs(ShareL10n::tr("退出登录")), [this] { signOut(); });
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

  layout->addWidget(new QLabel(heading(marked("等待发布"))));
  queueTable_ = table("queueTable",
                      headers({marked("分享"), marked("状态"), marked("尝试次数"),
                               marked("下次尝试"), marked("上次错误")}),
                      {0, 4});
  layout->addWidget(queueTable_, 1);
  auto* retry = button("retryButton", qs(ShareL10n::tr("立即重试")), [this] { retrySelected(); });
  auto* remove = button("removeButton", qs(ShareL10n::tr("移除")), [this] { removeSelected(); });
  layout->addLayout(PanelLayout::row({retry, remove}, Qt::AlignRight));

  layout->addWidget(new QLabel(heading(marked("最近上传"))));
  recentTable_ = table("recentTable",
                       headers({SharePanelText::resultCaption, SharePanelText::Form::title,
                                marked("过期时间"), marked("认领")}),
                       {1});
  layout->addWidget(recentTable_, 1);
  copyButton_ = button("copyButton", qs(ShareL10n::tr(SharePanelText::copyButton)),
                       [this] { copySelected(); });
  openButton_ = button("openButton", qs(ShareL10n::tr(SharePanelText::browseButton)),
                       [this] { openSelected(); });
  deleteButton_ =
      button("deleteButton", qs(ShareL10n::tr(deleteAction)), [this] { deleteSelected(); });
  layout->addLayout(PanelLayout::row({copyButton_, openButton_, deleteButton_}, Qt::AlignRight));

  connect(tokenField_, &QLineEdit::returnPressed, this, [this] { signIn(); });
  connect(recentTable_, &QTableWidget::itemSelectionChanged, this,
          [this] { updateRecentActions(); });
}

void ShareHostWindow::reload() {
  showSignIn();
  const auto shares = host_.uploads.queue->all();
  queueTable_->setRowCount(static_cast<int>(shares.size()));
  for (int row = 0; row < static_cast<int>(shares.size()); ++row) {
    const auto& entry = shares[static_cast<std::size_t>(row)].entry;
    setRow(queueTable_, row,
           {qs(entry.staged.displayTitle), stateText(entry.state), QString::number(entry.attempts),
            timeText(entry.nextAttemptAtMs), qs(entry.lastError.value_or(""))},
           entry.staged.clientShareId);
  }
  const auto selected = qs(selectedLink());
  const auto records = host_.uploads.queue->recentUploads(100);
  recentTable_->setRowCount(static_cast<int>(records.size()));
  for (int row = 0; row < static_cast<int>(records.size()); ++row) {
    const auto& record = records[static_cast<std::size_t>(row)];
    setRow(recentTable_, row,
           {qs(record.shortUrl), qs(record.title), timeText(record.expiresAtMs), claimText(record)},
           record.shortUrl);
  }
  // The same upload stays selected; one that is gone leaves nothing selected.
  recentTable_->clearSelection();
  if (const int row = rowOf(recentTable_, selected); row >= 0) recentTable_->selectRow(row);
  updateRecentActions();
}

void ShareHostWindow::showSignIn() {
  const auto state = host_.uploads.tokenState();
  const auto plan = SharePlanStore{host_.uploads.queue->storage()}.load(currentTimeMs());
  QString text = state == ShareUploadSession::TokenState::signedIn ? qs(ShareL10n::tr("已登录"))
                 : state == ShareUploadSession::TokenState::expired
                     ? qs(ShareL10n::tr("登录已过期：请粘贴新的登录令牌"))
                     : qs(ShareL10n::tr("未登录：分享会匿名发出"));
  if (plan && state == ShareUploadSession::TokenState::signedIn) {
    text += QStringLiteral(" · ") + qs(ShareL10n::tr("%@ 套餐", plan->displayName()));
  }
  accountLabel_->setText(text);
  signOutButton_->setEnabled(state != ShareUploadSession::TokenState::signedOut);
}

void ShareHostWindow::synchronise() {
  began(qs(ShareL10n::tr("正在刷新套餐、认领匿名上传并发布队列…")));
  workers_->run(
      this,
      [host = host_](std::stop_token stop) {
        SyncResult result;
        try {
          if (const auto plan = host.refreshPlan()) {
            result.planText = ShareL10n::tr("%@ 套餐", plan->displayName());
          }
        } catch (const ShareUploadError& error) {
          result.planText = ShareL10n::tr("套餐未刷新：%@", error.message());
        } catch (const std::exception& error) {
          result.planText = ShareL10n::tr("套餐未刷新：%@", error.what());
        }
        result.bind = host.bindPending();
        result.drain = host.uploads.drain(20, false, stop);
        return result;
      },
      [this](SyncResult result) {
        const auto count = [](auto number) { return std::to_string(number); };
        auto text =
            ShareL10n::tr("已发布 %@ 条，失败 %@ 条，等待 %@ 条",
                          {count(result.drain.uploaded.size()), count(result.drain.failures.size()),
                           count(result.drain.skipped)});
        if (result.bind && result.bind->didChange()) {
          text += " · " + ShareL10n::tr("认领：%@ 条已绑定，%@ 条被拒绝",
                                        {count(result.bind->bound), count(result.bind->failed)});
          if (result.bind->failure) {
            text += " · " + ShareL10n::tr("认领已中止：%@", *result.bind->failure);
          }
        }
        if (!result.planText.empty()) text += " · " + result.planText;
        ended(qs(text));
      });
}

void ShareHostWindow::signIn() {
  const auto token = TokenImport::anyForm(tokenField_->text().toStdString());
  if (!token) {
    activityLabel_->setText(qs(ShareL10n::tr("这不是登录令牌，没有做任何更改。")));
    return;
  }
  try {
    host_.uploads.tokenStore.save(*token);
  } catch (const std::exception& error) {
    activityLabel_->setText(qs(ShareL10n::tr("无法保存登录令牌：%@", error.what())));
    return;
  }
  tokenField_->clear();
  synchronise();  // a new account: its plan, its claims and what waited for it
}

void ShareHostWindow::signOut() {
  host_.uploads.tokenStore.clear();
  SharePlanStore{host_.uploads.queue->storage()}.clear();
  activityLabel_->setText(qs(ShareL10n::tr("已退出登录。")));
  reload();
}

void ShareHostWindow::retrySelected() {
  const auto id = selectedShareId();
  if (id.empty()) return;
  began(qs(ShareL10n::tr("正在重新发布…")));
  workers_->run(
      this,
      [session = host_.uploads, id](std::stop_token stop) {
        return session.uploadNow(id, std::nullopt, stop);
      },
      [this](ShareUploadSession::UploadResult result) {
        const auto* outcome = std::get_if<ShareUploadOutcome>(&result);
        ended(outcome ? qs(ShareL10n::tr("已发布：%@", outcome->shortUrl))
                      : qs(std::get<ShareUploadError>(result).message()));
      });
}

void ShareHostWindow::removeSelected() {
  const auto id = selectedShareId();
  if (id.empty()) return;
  try {
    activityLabel_->setText(host_.uploads.queue->remove(id)
                                ? qs(ShareL10n::tr("已从队列移除。"))
                                : qs(ShareL10n::tr("这条分享正在发布，没有移除。")));
  } catch (const std::exception& error) {
    activityLabel_->setText(qs(ShareL10n::tr("无法移除：%@", error.what())));
  }
  reload();
}

void ShareHostWindow::copySelected() {
  const auto link = selectedLink();
  if (link.empty()) return;
  QGuiApplication::clipboard()->setText(qs(link));
  activityLabel_->setText(qs(ShareL10n::tr("已复制 %@", link)));
}

void ShareHostWindow::openSelected() {
  const auto link = selectedLink();
  if (!link.empty() && Url::parse(link)) QDesktopServices::openUrl(QUrl(qs(link)));
}

void ShareHostWindow::deleteSelected() {
  const auto link = selectedLink();
  if (link.empty() || deleting_) return;
  const auto record = deletion().record(link);
  if (!record) {
    activityLabel_->setText(qs(ShareL10n::tr(recordGone)));
    reload();
    return;
  }
  const auto question = record->title.empty() ? ShareL10n::tr(deleteQuestionUntitled)
                                              : ShareL10n::tr(deleteQuestion, record->title);
  PanelLayout::confirm(this, qs(question), qs(link + "\n" + ShareL10n::tr(TakeBack::warning)),
                       qs(ShareL10n::tr(deleteAction)),
                       [this, record = *record] { deleteRecord(record); });
}

void ShareHostWindow::deleteRecord(const ShareUploadRecord& record) {
  deleting_ = true;
  updateRecentActions();
  began(qs(ShareL10n::tr(deletingText, record.shortUrl)));
  workers_->run(
      this,
      [deletion = deletion(), record](std::stop_token stop) {
        try {
          switch (deletion.takeBack(record, stop)) {
            case ShareDeletionResult::deleted:
              return ShareL10n::tr(deletedText, record.shortUrl);
            case ShareDeletionResult::alreadyGone:
              return ShareL10n::tr(alreadyGoneText, record.shortUrl);
            case ShareDeletionResult::refused:
              return ShareL10n::tr(notDeletedText,
                                   {record.shortUrl, ShareL10n::tr(TakeBack::refused)});
            case ShareDeletionResult::unsupported:
              break;
          }
          return ShareL10n::tr(TakeBack::unsupported);
        } catch (const std::exception& error) {
          return ShareL10n::tr(notDeletedText, {record.shortUrl, TakeBack::failureText(error)});
        }
      },
      [this](const std::string& text) {
        deleting_ = false;
        ended(qs(text));
      });
}

ShareDeletion ShareHostWindow::deletion() const {
  return ShareDeletion(host_);
}

void ShareHostWindow::updateRecentActions() {
  const bool selected = !selectedLink().empty();
  copyButton_->setEnabled(selected);
  openButton_->setEnabled(selected);
  deleteButton_->setEnabled(selected && !deleting_);
}

std::string ShareHostWindow::selectedShareId() const {
  const auto* item = queueTable_->currentItem();
  return item ? item->data(Qt::UserRole).toString().toStdString() : std::string();
}

std::string ShareHostWindow::selectedLink() const {
  const auto items = recentTable_->selectedItems();
  return items.empty() ? std::string() : items.front()->data(Qt::UserRole).toString().toStdString();
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
