// The share panel driven through its real widgets (offscreen), against the reference service on a
// loopback port and a private storage root. Delayed steps run on a clock the tests move by hand.
// With LUMO_SCREENSHOTS set, each phase is also saved as a PNG of the window as the screen shows
// it (scripts/panel-screenshots runs these tests under Xvfb for that).
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>

#include <atomic>
#include <fstream>

#include "LumoShare.hpp"
#include "PanelTestSupport.hpp"
#include "QRCodeView.hpp"
#include "ServiceFixture.hpp"
#include "ShareLinkField.hpp"
#include "ShareViewController.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using Phase = SharePanelPhase;
using Ending = ShareExtensionContext::Ending;
namespace Text = SharePanelText;

/// Delayed steps on a clock that only moves when a test says so.
class ManualSteps final : public ShareDelayedSteps {
 public:
  void after(std::chrono::milliseconds delay, QObject* owner, std::function<void()> step) override {
    steps_.push_back({nowMs_ + delay.count(), owner, std::move(step)});
  }
  /// Moves the clock, running each step that falls due on the way, in time order.
  void advance(std::chrono::milliseconds by) {
    const auto target = nowMs_ + by.count();
    for (;;) {
      const auto next = std::min_element(
          steps_.begin(), steps_.end(), [](const auto& a, const auto& b) { return a.due < b.due; });
      if (next == steps_.end() || next->due > target) break;
      auto step = std::move(*next);
      steps_.erase(next);
      nowMs_ = step.due;
      if (step.owner) step.run();
    }
    nowMs_ = target;
  }
  std::size_t pending() const { return steps_.size(); }

 private:
  struct Step {
    std::int64_t due;
    QPointer<QObject> owner;
    std::function<void()> run;
  };
  std::int64_t nowMs_ = 0;
  std::vector<Step> steps_;
};

/// Holds worker threads until a test lets them go.
struct Gate {
  void wait() { opened.wait(false); }
  void open() {
    opened = true;
    opened.notify_all();
  }
  std::atomic<bool> opened = false;
};

/// A text whose reading takes as long as the test wants.
class SlowTextProvider final : public ShareItemProvider {
 public:
  explicit SlowTextProvider(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  std::vector<std::string> registeredTypeIdentifiers() const override {
    return {ShareUTType::plainText};
  }
  ShareItemValue loadItem(const std::string&) override {
    gate_->wait();
    return ShareItemText{"Slow words"};
  }
  void loadFileRepresentation(const std::string&, const FileHandler&) override {}
  std::optional<std::string> suggestedName() const override { return std::nullopt; }

 private:
  std::shared_ptr<Gate> gate_;
};

/// Catches what the panel hands to the desktop's browser.
class BrowserSpy : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened << url; }
};

}  // namespace

class ShareViewControllerTest : public QObject {
  Q_OBJECT

 private:
  testing::TemporaryDirectory root_;
  std::unique_ptr<testing::TemporaryDirectory> data_;
  std::unique_ptr<testing::RunningService> service_;
  ShareStorage storage_;
  ShareTokenStore tokens_{storage_};
  std::shared_ptr<ManualSteps> steps_;
  std::shared_ptr<testing::TestNetwork> network_;
  std::unique_ptr<ShareExtensionContext> context_;
  std::shared_ptr<SharePanelWorkers> workers_;
  std::unique_ptr<ShareViewController> panel_;

  void configure(JSONValue info = JSONValue::object()) {
    info["LumoShareAPIBase"] = service_->apiBase();
    ShareAppleBundle::setMain(std::make_shared<ShareAppleBundle>(std::move(info)));
  }
  void signIn(const char* plan = nullptr) {
    const auto token = service_->service.secrets().issueToken("ana-id", testing::systemNow(), 1);
    tokens_.save(ShareToken{token, std::nullopt, std::nullopt, "ana-id", 0});
    if (plan) SharePlanStore{storage_}.save(SharePlan{plan, "Hobby ", 50, 7, currentTimeMs()});
  }
  /// Staging in `storage_`, publishing through `network_`.
  ShareViewEnvironment environment() {
    auto queue = std::make_shared<PendingShareQueue>(storage_);
    return {ShareIngest(queue, storage_, ShareSettingsStore{storage_}),
            ShareUploadSession{queue, tokens_, ShareSettingsStore{storage_}, network_,
                               RetryPolicy{1, 1, 1, 0}},
            steps_, workers_, currentTimeMs};
  }
  /// Opens the panel over `items`.
  void open(ShareExtensionContext::Providers items) {
    context_ = std::make_unique<ShareExtensionContext>(std::move(items));
    panel_ = std::make_unique<ShareViewController>(*context_, environment());
    panel_->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
  }
  std::shared_ptr<ShareItemProvider> file(const char* name, const std::string& content) {
    const auto path = root_ / name;
    std::ofstream(path) << content;
    return std::make_shared<SharePathItemProvider>(path);
  }
  template <class Widget = QWidget>
  Widget* view(const char* name) {
    auto* widget = panel_->findChild<Widget*>(QString::fromLatin1(name));
    if (!widget) qFatal("no view %s", name);
    return widget;
  }
  bool shows(const char* name) { return view(name)->isVisibleTo(panel_.get()); }
  QString textOf(const char* name) {
    if (auto* label = panel_->findChild<QLabel*>(QString::fromLatin1(name))) return label->text();
    return view<QAbstractButton>(name)->text();
  }
  static QString qs(const std::string& text) { return QString::fromStdString(text); }
  bool reaches(Phase phase) {
    return QTest::qWaitFor([&] { return panel_->phase() == phase; }, 20000);
  }
  /// Saves the window as the screen shows it, when screenshots are asked for.
  void screenshot(const char* name) {
    QVERIFY(testing::screenshot(*panel_, QStringLiteral("panel-") + name));
  }
  /// Asks to take the published share back and answers the confirmation, which names the link.
  void takeBack(bool confirmed, const char* screenshotName = nullptr) {
    view<QPushButton>("takeBackButton")->click();
    auto* box = panel_->findChild<QMessageBox*>(QStringLiteral("confirmation"));
    QVERIFY(box && box->isVisible());
    QVERIFY(box->informativeText().contains(qs(panel_->currentShortURL())));
    if (screenshotName) QVERIFY(testing::screenshot(*box, screenshotName));
    box->findChild<QPushButton*>(confirmed ? "confirmButton" : "declineButton")->click();
    QVERIFY(QTest::qWaitFor([&] { return !panel_->findChild<QMessageBox*>(); }, 5000));
  }
  /// Whether this machine still keeps the upload record of `slug`.
  bool recorded(const std::string& slug) {
    const auto records = PendingShareQueue(storage_).recentUploads(50);
    return std::any_of(records.begin(), records.end(),
                       [&](const auto& record) { return record.slug == slug; });
  }

 private Q_SLOTS:
  void initTestCase() { testing::quietOffscreenWarnings(); }
  void init() {
    data_ = std::make_unique<testing::TemporaryDirectory>();
    service_ = std::make_unique<testing::RunningService>(
        testing::serviceOptions(data_->path(), testing::systemNow));
    service_->service.store().addAccount({"ana-id", "ana", "hobby", testing::systemNow()});
    storage_ =
        ShareStorage{root_ / ("root-" + makeLowercaseUUID()), ShareStorageLocation::injected};
    tokens_ = ShareTokenStore(storage_);
    steps_ = std::make_shared<ManualSteps>();
    network_ = std::make_shared<testing::TestNetwork>(URLSessionTransport::makeDefault());
    workers_ = std::make_shared<SharePanelWorkers>();
    configure();
  }
  void cleanup() {
    network_->release();
    panel_.reset();
    workers_.reset();  // joins what still runs
    context_.reset();
    network_.reset();  // its connections first: the service waits for open ones as it stops
    service_.reset();
    ShareAppleBundle::setMain(nullptr);
  }

  void nothingSharedFailsWithoutRetryAndAutoSubmitCloses() {
    // The flow alone, without a window: its delayed steps belong to this test.
    configure({{"LumoShareAutoSubmit", true}});
    SharePanelFlow::Seams seams;
    seams.later = [&](auto delay, auto step) { steps_->after(delay, this, std::move(step)); };
    context_ = std::make_unique<ShareExtensionContext>(ShareExtensionContext::Providers{});
    auto [ingest, session, steps, workers, clock] = environment();
    SharePanelFlow flow(*context_, ingest, session, clock, seams);
    flow.start();
    QCOMPARE(flow.phase(), Phase::failure);
    QCOMPARE(qs(flow.view().errorDetail), qs(ShareL10n::tr(Text::nothingProvided)));
    QVERIFY(!flow.view().retryShown && flow.view().openHostShown);
    steps_->advance(799ms);
    QCOMPARE(context_->ending(), Ending::open);
    steps_->advance(1ms);
    QCOMPARE(context_->ending(), Ending::completed);
  }

  void longReadingSaysSoOnceAndShortReadingDoesNot() {
    auto gate = std::make_shared<Gate>();
    open({std::make_shared<SlowTextProvider>(gate)});
    QCOMPARE(textOf("statusLabel"), qs(ShareL10n::tr(Text::readingStatus)));
    QVERIFY(shows("spinner") && shows("cancelButton") && !shows("primaryButton"));
    screenshot("reading");
    steps_->advance(29999ms);
    QCOMPARE(textOf("statusLabel"), qs(ShareL10n::tr(Text::readingStatus)));
    steps_->advance(1ms);
    QCOMPARE(textOf("statusLabel"), qs(ShareL10n::tr(Text::stillReading)));
    gate->open();
    QVERIFY(reaches(Phase::ready));

    open({file("early.txt", "done in time")});
    QVERIFY(reaches(Phase::ready));
    steps_->advance(30s);
    QCOMPARE(textOf("statusLabel"), qs(ShareL10n::tr("准备发布")));
  }

  void aClosedPanelDropsWhatItsTasksBring() {
    auto gate = std::make_shared<Gate>();
    open({std::make_shared<SlowTextProvider>(gate)});
    panel_.reset();
    gate->open();
    workers_.reset();  // the ingest finishes; its result has nobody to go to
    QCoreApplication::processEvents();
    steps_->advance(31s);
    QCOMPARE(context_->ending(), Ending::open);
    QVERIFY2(storage_.pendingDirectories().empty(), "a share nobody will see is not kept");
  }

  /// What another program's drain publishes from this storage, right now.
  std::size_t drainElsewhere() {
    const ShareUploadSession elsewhere{std::make_shared<PendingShareQueue>(storage_), tokens_,
                                       ShareSettingsStore{storage_},
                                       URLSessionTransport::makeDefault(), RetryPolicy{1, 1, 1, 0}};
    return elsewhere.drain(10, true).uploaded.size();
  }

  void aCancelledShareIsNeverPublished_data() {
    QTest::addColumn<bool>("duringReading");
    QTest::newRow("cancelled in the form") << false;
    QTest::newRow("cancelled while reading") << true;
  }
  void aCancelledShareIsNeverPublished() {
    QFETCH(bool, duringReading);
    auto gate = std::make_shared<Gate>();
    open({std::make_shared<SlowTextProvider>(gate)});
    if (!duringReading) {
      gate->open();
      QVERIFY(reaches(Phase::ready));
      QCOMPARE(drainElsewhere(), 0u);  // the form is open: the share is the panel's
      QVERIFY(!storage_.pendingDirectories().empty());
    }
    panel_->cancelTapped();
    QCOMPARE(context_->ending(), Ending::cancelled);
    gate->open();
    QVERIFY(QTest::qWaitFor([&] { return storage_.pendingDirectories().empty(); }, 20000));
    QCoreApplication::processEvents();
    QCOMPARE(panel_->phase(), duringReading ? Phase::reading : Phase::ready);
    QCOMPARE(drainElsewhere(), 0u);
    QCOMPARE(service_->service.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0),
             std::int64_t{0});
  }

  void theFormFollowsAccountPlanAndKind_data() {
    QTest::addColumn<QString>("account");  // "anonymous", "hobby", "pro"
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("hint");
    QTest::newRow("anonymous document")
        << "anonymous" << false << qs(ShareL10n::tr(Text::hintAnonymous));
    QTest::newRow("anonymous link")
        << "anonymous" << true << qs(ShareL10n::tr(Text::hintAnonymousLink));
    QTest::newRow("free plan document")
        << "hobby" << false << qs(ShareL10n::tr(Text::hintFreePlan, "Hobby"));
    QTest::newRow("signed-in link") << "pro" << true << qs(ShareL10n::tr(Text::hintSignedInLink));
    QTest::newRow("pro document") << "pro" << false << QString();
  }
  void theFormFollowsAccountPlanAndKind() {
    QFETCH(QString, account);
    QFETCH(bool, link);
    QFETCH(QString, hint);
    if (account != "anonymous") signIn(account == "hobby" ? "hobby" : "pro");
    open({link ? std::shared_ptr<ShareItemProvider>(std::make_shared<ShareURLItemProvider>(
                     *Url::parse("https://example.com/read")))
               : file("report.txt", "quarterly numbers")});
    QVERIFY(reaches(Phase::ready));
    const bool anonymous = account == "anonymous";
    QCOMPARE(shows("slugField"), !anonymous);
    QCOMPARE(shows("passwordCheckbox"), !anonymous);
    QCOMPARE(view("expiryPopup")->isEnabled(), !anonymous);
    for (const auto* docOnly : {"titleField", "noteTextView", "burnCheckbox", "maxDownloadsField",
                                "watermarkCheckbox", "watermarkSlider"}) {
      QCOMPARE(shows(docOnly), !link);
    }
    QCOMPARE(shows("composeHintLabel"), !hint.isEmpty());
    QCOMPARE(textOf("composeHintLabel"), hint);
    const bool free = account == "hobby";
    QCOMPARE(view("passwordCheckbox")->isEnabled(), !free);
    QCOMPARE(textOf("passwordCheckbox"),
             qs(ShareL10n::tr(free ? Text::passwordTitleFreePlan : Text::passwordTitle)));
    QVERIFY(!view("passwordField")->isEnabled());  // on only with its checkbox
    QVERIFY(!view("watermarkTextField")->isEnabled());
    if (anonymous && link) screenshot("ready-anonymous-link");
  }

  void publishingChecksTheSlugAndShowsTheLinkWithItsCodeAndCopyButton() {
    signIn("pro");
    open({file("report.txt", "quarterly numbers")});
    QVERIFY(reaches(Phase::ready));

    QTest::keyClicks(view("slugField"), "no spaces");
    QVERIFY(!view("primaryButton")->isEnabled());
    QVERIFY(shows("validationLabel"));
    QCOMPARE(textOf("validationLabel"), qs(Text::message(ShareComposeIssue::invalidSlug)));
    QTest::keyClick(view("slugField"), Qt::Key_Return);
    QCOMPARE(panel_->phase(), Phase::ready);
    view<QLineEdit>("slugField")->clear();
    QVERIFY(view("primaryButton")->isEnabled());
    QVERIFY(!shows("validationLabel"));

    QCOMPARE(textOf("readyDetail").split('\n').first(),
             qs(ShareL10n::tr(Text::summaryKind, Text::kindLabel("file"))));
    view<QLineEdit>("titleField")->clear();
    QTest::keyClicks(view("titleField"), "Q3 numbers");
    QTest::keyClicks(view("slugField"), "q3-numbers");
    view<QCheckBox>("watermarkCheckbox")->click();
    QVERIFY(view("watermarkTextField")->isEnabled());
    view<QComboBox>("expiryPopup")->setCurrentIndex(2);
    screenshot("ready-file-signed-in");
    QTest::keyClick(view("titleField"), Qt::Key_Return);
    QVERIFY(reaches(Phase::success));
    const auto stored = service_->service.store().share("q3-numbers");
    QVERIFY(stored);
    QCOMPARE(stored->comment, std::optional<std::string>("Q3 numbers"));
    QCOMPARE(stored->expDays, 30);
    QVERIFY(stored->watermark);
    const auto link = view<ShareLinkField>("resultURLLabel")->link();
    QCOMPARE(link, qs(panel_->currentShortURL()));
    QVERIFY(link.endsWith("/q3-numbers"));
    QVERIFY(textOf("resultMeta").contains(qs(Text::kindLabel("file"))));
    QVERIFY(shows("qrView") && !shows("cancelButton") && !shows("formScrollView"));
    QCOMPARE(view<QRCodeView>("qrView")->image()->dark, qrImage(link.toStdString(), 132)->dark);
    QCOMPARE(textOf("primaryButton"), qs(ShareL10n::tr("完成")));
    screenshot("success");

    steps_->advance(31s);  // the long-reading note, long moot
    QCOMPARE(steps_->pending(), 0u);
    const auto copied = qs(ShareL10n::tr(Text::copiedButton));
    const auto copy = qs(ShareL10n::tr(Text::copyButton));
    view<QPushButton>("copyButton")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), qs(panel_->currentShortURL()));
    steps_->advance(1000ms);
    view<QPushButton>("copyButton")->click();
    QCOMPARE(textOf("copyButton"), copied);
    QCOMPARE(steps_->pending(), 2u);
    steps_->advance(500ms);
    QCOMPARE(textOf("copyButton"), copy);  // the first reset is not postponed
    QCOMPARE(steps_->pending(), 1u);
    steps_->advance(1000ms);
    QCOMPARE(steps_->pending(), 0u);

    BrowserSpy browser;
    QDesktopServices::setUrlHandler("https", &browser, "open");
    view<QPushButton>("browseButton")->click();
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(qs(panel_->currentShortURL()))});
    view<QPushButton>("primaryButton")->click();
    QCOMPARE(context_->ending(), Ending::completed);
  }

  void takingTheShareBack_data() {
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("service");  // "reference", "offline at first", or a status of a
                                           // service that cannot delete shares
    QTest::newRow("anonymous, by its claim") << false << true << "reference";
    QTest::newRow("signed in, again after a network failure") << true << true << "offline at first";
    QTest::newRow("not confirmed") << false << false << "reference";
    QTest::newRow("a service without deletion") << true << true << "405";
  }
  void takingTheShareBack() {
    QFETCH(bool, signedIn);
    QFETCH(bool, confirmed);
    QFETCH(QString, service);
    if (signedIn) signIn("pro");
    open({file("mistake.txt", "sent to the wrong chat")});
    QVERIFY(reaches(Phase::ready));
    view<QPushButton>("primaryButton")->click();
    QVERIFY(reaches(Phase::success));
    const auto link = panel_->currentShortURL();
    const auto slug = link.substr(link.rfind('/') + 1);
    const bool offlineAtFirst = service == "offline at first";
    network_->setOffline(offlineAtFirst);
    if (service == "405") network_->answerDeletions(405);
    if (service == "reference") network_->hold();  // the deletion waits: the card while it runs
    takeBack(confirmed, offlineAtFirst ? "panel-take-back-confirmation" : nullptr);
    if (service == "reference" && confirmed) {
      for (const auto* button : {"copyButton", "browseButton", "takeBackButton", "primaryButton"}) {
        QVERIFY2(!view(button)->isEnabled(), button);
      }
      QCOMPARE(textOf("statusLabel"), qs(ShareL10n::tr(Text::TakeBack::running)));
    }
    network_->release();
    const auto settled = [&] { return QTest::qWaitFor([&] { return workers_->idle(); }, 20000); };
    QVERIFY(settled());
    QCoreApplication::processEvents();
    if (offlineAtFirst) {  // the card says why, and the button is there to try again
      QVERIFY(textOf("takeBackNote").startsWith(qs(ShareL10n::tr(Text::TakeBack::failed, ""))));
      QVERIFY(shows("takeBackButton") && view("takeBackButton")->isEnabled());
      network_->setOffline(false);
      takeBack(true);
      QVERIFY(settled());
      QCoreApplication::processEvents();
    }
    const bool takenBack = confirmed && (service == "reference" || offlineAtFirst);
    QCOMPARE(testing::pageStatus(service_->port, slug), takenBack ? 410 : 200);
    QCOMPARE(recorded(slug), !takenBack);
    QCOMPARE(textOf("resultTitle"),
             qs(ShareL10n::tr(takenBack ? Text::TakeBack::takenBack : Text::resultTitle)));
    QCOMPARE(shows("copyButton") && shows("browseButton") && shows("qrView"), !takenBack);
    QCOMPARE(shows("takeBackButton"), !confirmed);
    QCOMPARE(textOf("takeBackNote"),
             takenBack || !confirmed ? QString() : qs(ShareL10n::tr(Text::TakeBack::unsupported)));
    QVERIFY(view("primaryButton")->isEnabled());
    if (offlineAtFirst) screenshot("taken-back");
    if (service == "405") screenshot("take-back-unsupported");
  }

  void aFailedUploadOffersRetryAndGuidanceAndOnlyThePanelSendsItsShare() {
    open({file("retry.txt", "try again")});
    QVERIFY(reaches(Phase::ready));
    network_->setOffline(true);
    view<QPushButton>("primaryButton")->click();
    QVERIFY(reaches(Phase::failure));
    QVERIFY(shows("retryButton") && shows("openHostButton") && !shows("cancelButton"));
    const auto detail = textOf("errorDetail");
    QVERIFY2(detail.count('\n') == 1, qPrintable(detail));  // the message, then what to do
    screenshot("failure");
    network_->setOffline(false);
    view<QPushButton>("retryButton")->click();
    QVERIFY(reaches(Phase::success));
    QVERIFY(service_->service.store().share(
        view<ShareLinkField>("resultURLLabel")->link().section('/', -1).toStdString()));

    network_->hold();
    open({file("slow.txt", "held")});  // a second panel whose upload is held
    QVERIFY(reaches(Phase::ready));
    view<QPushButton>("primaryButton")->click();
    QVERIFY(reaches(Phase::uploading));
    QVERIFY(!view("primaryButton")->isEnabled() && !shows("cancelButton"));
    QCOMPARE(textOf("primaryButton"), qs(ShareL10n::tr("上传中…")));
    QCOMPARE(drainElsewhere(), 0u);  // while the panel sends it, nobody else does
    screenshot("uploading");
    network_->release();
    QVERIFY(reaches(Phase::success));
    QCOMPARE(drainElsewhere(), 0u);  // the retried share and the held one, each once:
    QCOMPARE(service_->service.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0),
             std::int64_t{2});
  }

  void withoutASharedContainerNothingIsKeptForLater() {
    storage_.location = ShareStorageLocation::unavailable;
    open({file("once.txt", "only now")});
    QVERIFY(reaches(Phase::ready));
    QCOMPARE(textOf("hintLabel"),
             qs(ShareL10n::tr(Text::phaseTexts(Phase::ready).hintWithoutContainer)));
    network_->setOffline(true);
    view<QPushButton>("primaryButton")->click();
    QVERIFY(reaches(Phase::failure));
    QVERIFY(!shows("retryButton") && !shows("openHostButton"));
  }

  void theHostAppIsStartedByItsDesktopEntry() {
    configure({{"LumoShareHostBundleID", "lumo.share.absent"}});
    open({});
    view<QPushButton>("openHostButton")->click();
    QCOMPARE(textOf("statusLabel"), qs(ShareL10n::tr(Text::hostAppMissing, "lumo.share.absent")));
    QCOMPARE(context_->ending(), Ending::open);

    const auto marker = testing::hostStartedMarker();  // main installed its desktop entry
    std::filesystem::remove(marker);
    configure({{"LumoShareHostBundleID", testing::testHostAppIdentifier}});
    open({});
    view<QPushButton>("openHostButton")->click();
    QCOMPARE(context_->ending(), Ending::completed);
    QVERIFY(QTest::qWaitFor([&] { return std::filesystem::exists(marker); }, 10000));
  }
};

}  // namespace lumo

QObject* makeShareViewControllerTest() {
  return new lumo::ShareViewControllerTest;
}

#include "ShareViewControllerTests.moc"
