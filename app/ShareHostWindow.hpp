#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "LumoShare.hpp"
#include "SharePanelWorkers.hpp"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace lumo {

/// The host application's window ("Lumo Share App"): the queue with what went wrong and when the
/// next attempt is, the recent uploads with their links and claim state (copy, open, delete at
/// the service after a confirmation, "confirmation"), and the sign-in. When it
/// opens it refreshes the plan, binds anonymous uploads to the account and publishes what is
/// queued, on a worker, showing what it does without blocking the window. Widgets carry their
/// role as object name ("queueTable", "retryButton" …).
class ShareHostWindow : public QWidget {
 public:
  ShareHostWindow(ShareHostSession host, std::shared_ptr<SharePanelWorkers> workers,
                  QWidget* parent = nullptr);

  /// The claim column of an anonymous upload bound to the account (look it up with
  /// ShareL10n::tr).
  static constexpr const char* claimBound = ShareL10n::marked("已认领");

  /// Refreshes the plan, binds claims and drains the queue (what opening the window does).
  void synchronise();
  /// True while a synchronisation, retry, deletion or sign-in runs on the worker.
  bool isBusy() const { return busy_ > 0; }

 private:
  struct SyncResult {
    std::string planText;
    std::optional<ShareBindReport> bind;
    ShareUploadReport drain;
  };

  void buildViews();
  void reload();
  void showSignIn();
  void signIn();
  void signOut();
  void retrySelected();
  void removeSelected();
  void copySelected();
  void openSelected();
  /// Asks, then takes the selected upload back at the service.
  void deleteSelected();
  void deleteRecord(const ShareUploadRecord& record);
  ShareDeletion deletion() const;
  /// The recent uploads' buttons act on a selected upload only.
  void updateRecentActions();
  std::string selectedShareId() const;
  std::string selectedLink() const;
  void began(const QString& what);
  void ended(const QString& what);

  ShareHostSession host_;
  std::shared_ptr<SharePanelWorkers> workers_;
  int busy_ = 0;
  bool deleting_ = false;

  QLabel* accountLabel_ = nullptr;
  QLineEdit* tokenField_ = nullptr;
  QPushButton* signInButton_ = nullptr;
  QPushButton* signOutButton_ = nullptr;
  QLabel* activityLabel_ = nullptr;
  QProgressBar* activityBar_ = nullptr;
  QTableWidget* queueTable_ = nullptr;
  QTableWidget* recentTable_ = nullptr;
  QPushButton *copyButton_ = nullptr, *openButton_ = nullptr, *deleteButton_ = nullptr;
};

}  // namespace lumo
