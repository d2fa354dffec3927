// The host window against the reference service: opening it publishes the queue and binds the
// anonymous uploads; retry and remove act on the queue; delete takes a recent upload back.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "LumoShare.hpp"
#include "PanelTestSupport.hpp"
#include "QueueTestSupport.hpp"
#include "ServiceFixture.hpp"
#include "ShareHostWindow.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {

class ShareHostWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TemporaryDirectory> data_, root_;
  std::unique_ptr<testing::RunningService> service_;
  std::shared_ptr<PendingShareQueue> queue_;
  std::optional<ShareHostSession> host_;
  std::shared_ptr<testing::TestNetwork> network_;
  std::shared_ptr<SharePanelWorkers> workers_;
  std::unique_ptr<ShareHostWindow> window_;

  void open() {
    window_ = std::make_unique<ShareHostWindow>(*host_, workers_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void synchroniseAndWait() {
    window_->synchronise();
    QVERIFY(QTest::qWaitFor([&] { return !window_->isBusy(); }, 30000));
  }
  QTableWidget* table(const char* name) {
    return window_->findChild<QTableWidget*>(QString::fromLatin1(name));
  }
  QPushButton* button(const char* name) {
    return window_->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  void click(const char* name) { button(name)->click(); }
  void signIn() {
    host_->uploads.tokenStore.save(
        ShareToken{service_->service.secrets().issueToken("ana-id", testing::systemNow(), 1),
                   std::nullopt, std::nullopt, "ana-id", 0});
  }

 private Q_SLOTS:
  void initTestCase() { testing::quietOffscreenWarnings(); }
  void init() {
    data_ = std::make_unique<testing::TemporaryDirectory>();
    root_ = std::make_unique<testing::TemporaryDirectory>();
    service_ = std::make_unique<testing::RunningService>(
        testing::serviceOptions(data_->path(), testing::systemNow));
    service_->service.store().addAccount({"ana-id", "ana", "pro", testing::systemNow()});
    const ShareStorage storage{root_->path() / "root", ShareStorageLocation::injected};
    queue_ = std::make_shared<PendingShareQueue>(storage);
    network_ = std::make_shared<testing::TestNetwork>(URLSessionTransport::makeDefault());
    host_ = ShareHostSession{
        ShareUploadSession{queue_, ShareTokenStore(storage), ShareSettingsStore{storage}, network_,
                           RetryPolicy{1, 1, 1, 0}},
        *Url::parse(service_->apiBase())};
    ShareAppleBundle::setMain(
        std::make_shared<ShareAppleBundle>(JSONValue{{"LumoShareAPIBase", service_->apiBase()}}));
    workers_ = std::make_shared<SharePanelWorkers>();
  }
  void cleanup() {
    window_.reset();
    workers_.reset();
    host_.reset();  // its connections first: the service waits for open ones as it stops
    network_.reset();
    service_.reset();
    ShareAppleBundle::setMain(nullptr);
  }

  void openingPublishesTheQueueAndBindsAnonymousUploads() {
    queue_->enqueue(testing::makeStagedShare("anonymous", 1));
    QVERIFY(std::holds_alternative<ShareUploadOutcome>(host_->uploads.uploadNow("anonymous")));
    signIn();
    queue_->enqueue(testing::makeStagedShare("waiting", 2));
    open();
    QCOMPARE(table("queueTable")->rowCount(), 1);
    synchroniseAndWait();
    QCOMPARE(table("queueTable")->rowCount(), 0);
    QCOMPARE(table("recentTable")->rowCount(), 2);
    const auto bound = QString::fromStdString(ShareL10n::tr(ShareHostWindow::claimBound));
    QVERIFY(table("recentTable")->findItems(bound, Qt::MatchExactly).size() == 1);
    QVERIFY(testing::screenshot(*window_, "host-window"));
  }

  void retryAndRemoveActOnTheQueue() {
    network_->setOffline(true);
    queue_->enqueue(testing::makeStagedShare("first", 1));
    queue_->enqueue(testing::makeStagedShare("second", 2));
    open();
    synchroniseAndWait();
    auto* queue = table("queueTable");
    QCOMPARE(queue->rowCount(), 2);
    QVERIFY(!queue->item(0, 4)->text().isEmpty());  // the last error is shown
    queue->setCurrentCell(0, 0);
    click("removeButton");
    QCOMPARE(queue->rowCount(), 1);
    QCOMPARE(queue_->all().size(), 1u);
    network_->setOffline(false);
    queue->setCurrentCell(0, 0);
    click("retryButton");
    QVERIFY(QTest::qWaitFor([&] { return !window_->isBusy(); }, 30000));
    QCOMPARE(queue->rowCount(), 0);
    QCOMPARE(table("recentTable")->rowCount(), 1);
  }

  void deleteTakesTheSelectedUploadBack_data() {
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("refusedWith");  // the status of a service that cannot delete, or 0
    QTest::newRow("signed in") << true << true << 0;
    QTest::newRow("not confirmed") << false << false << 0;
    QTest::newRow("a service without deletion") << true << true << 405;
  }
  void deleteTakesTheSelectedUploadBack() {
    QFETCH(bool, signedIn);
    QFETCH(bool, confirmed);
    QFETCH(int, refusedWith);
    if (signedIn) signIn();
    queue_->enqueue(testing::makeStagedShare("regret", 1));
    QVERIFY(std::holds_alternative<ShareUploadOutcome>(host_->uploads.uploadNow("regret")));
    const auto record = queue_->recentUploads(1).front();
    open();
    QVERIFY(!button("deleteButton")->isEnabled());  // nothing selected
    table("recentTable")->selectRow(0);
    QVERIFY(button("deleteButton")->isEnabled());
    network_->answerDeletions(refusedWith);
    click("deleteButton");
    auto* box = window_->findChild<QMessageBox*>(QStringLiteral("confirmation"));
    QVERIFY(box && box->isVisible());
    QVERIFY(box->text().contains(QString::fromStdString(record.title)));
    QVERIFY(box->informativeText().contains(QString::fromStdString(record.shortUrl)));
    if (signedIn && confirmed && !refusedWith) {
      QVERIFY(testing::screenshot(*window_, "host-window-delete"));
      QVERIFY(testing::screenshot(*box, "host-delete-confirmation"));
    }
    box->findChild<QPushButton*>(confirmed ? "confirmButton" : "declineButton")->click();
    QVERIFY(QTest::qWaitFor([&] { return !window_->isBusy(); }, 30000));
    const bool deleted = confirmed && !refusedWith;
    QCOMPARE(table("recentTable")->rowCount(), deleted ? 0 : 1);
    QCOMPARE(testing::pageStatus(service_->port, record.slug), deleted ? 410 : 200);
    if (refusedWith) {
      QCOMPARE(window_->findChild<QLabel*>(QStringLiteral("activityLabel"))->text(),
               QString::fromStdString(ShareL10n::tr(SharePanelText::TakeBack::unsupported)));
    }
    QCOMPARE(button("deleteButton")->isEnabled(), !deleted);  // the same upload stays selected
  }
};

}  // namespace lumo

QObject* makeShareHostWindowTest() {
  return new lumo::ShareHostWindowTest;
}

#include "ShareHostWindowTests.moc"
