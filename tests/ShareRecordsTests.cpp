#include <gtest/gtest.h>

#include <limits>

#include "LumoShare.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

template <class T>
std::string encode(const T& value) {
  return ShareJSON::encoder().encode(value);
}

template <class T>
T decode(std::string_view text) {
  return ShareJSON::decoder().decode<T>(text);
}

SharePayload textPayload() {
  SharePayload payload;
  payload.clientShareId = "0c9f6f1e-8f4b-4bd3-9d1e-2a3c4b5d6e7f";
  payload.createdAt = 1700000000123;
  payload.source =
      ShareSource{PlatformValues::linux, std::nullopt, "org.gnome.Nautilus", "文件", "zh_CN"};
  payload.kind = ShareKindValues::text;
  payload.title = "Grüße";
  payload.text = "see https://lumo.example/a/b";
  payload.meta = ShareStringMap{{"capture", CaptureMethodValues::shareSheet},
                                {"platform", PlatformValues::linux},
                                {"client", "apple-share-extension"}};
  return payload;
}

StagedAttachment photo() {
  return StagedAttachment{
      "item-1", "photo.jpg", ItemTypeValues::image, "image/jpeg", "  Urlaub 🌊.jpg ", 10, "ab12",
      640,      480,         std::nullopt};
}

TEST(ShareRecordsJSON, GoldenFormsOfEveryRecordKeysInOrderAbsentOptionalsOmittedMetaInOrder) {
  EXPECT_EQ(
      encode(textPayload()),
      R"({"clientShareId":"0c9f6f1e-8f4b-4bd3-9d1e-2a3c4b5d6e7f","createdAt":1700000000123,)"
      R"("source":{"platform":"linux","app":"org.gnome.Nautilus","appName":"文件","locale":"zh_CN"},)"
      R"("kind":"text","title":"Grüße","text":"see https://lumo.example/a/b",)"
      R"("meta":{"capture":"share-sheet","platform":"linux","client":"apple-share-extension"}})");

  const auto payload = textPayload();
  const auto options = ShareOptions::defaultValue();
  const std::vector<StagedAttachment> attachments = {photo()};
  StagedShare share{"id-1", 1700000000123, payload, attachments, "Grüße", "preview", 10, options};
  const auto json = encode(share);
  EXPECT_EQ(json.rfind(R"({"clientShareId":"id-1","createdAt":1700000000123,"attachments":[{)", 0),
            0u);
  EXPECT_NE(
      json.find(
          R"(],"displayTitle":"Grüße","displayPreview":"preview","totalBytes":10,)"
          R"("options":{"expiresInSeconds":604800,"disableDownload":false,"burnAfterReading":false},)"
          R"("payload":{"clientShareId":)"),
      std::string::npos);
  EXPECT_EQ(json.back(), '}');
  EXPECT_EQ(decode<StagedShare>(json), share);
  EXPECT_EQ(encode(ShareSource{PlatformValues::linux, {}, {}, {}, {}}), R"({"platform":"linux"})");
  ShareStringMap meta;
  meta.set("zeta", "1");
  meta.set("alpha", "2");
  meta.set("zeta", "3");  // replacing keeps the first position
  SharePayload withMeta;
  withMeta.kind = ShareKindValues::text;
  withMeta.meta = meta;
  const auto metaJson = encode(withMeta);
  EXPECT_EQ(metaJson, R"({"kind":"text","meta":{"zeta":"3","alpha":"2"}})");
  EXPECT_EQ(encode(decode<SharePayload>(metaJson)), metaJson);

  EXPECT_EQ((ShareStringMap{{"a", "1"}, {"b", "2"}}), (ShareStringMap{{"b", "2"}, {"a", "1"}}));
  EXPECT_NE((ShareStringMap{{"a", "1"}}), (ShareStringMap{{"a", "1"}, {"b", "1"}}));
  ChatMessage rich{"m2",   "Ana", 1700000000000, MessageTypeValues::image,
                   "look", 3,     "m1",          ShareStringMap{{"k", "v"}}};
  ChatPayload chat{ChatProviderValues::telegram,
                   ChatConversation{"c1", "Team", ConversationTypeValues::group, 5},
                   CaptureMethodValues::exportImport,
                   {ChatMessage{{}, "Bo", {}, MessageTypeValues::text, "hi", {}, {}, {}}, rich},
                   "exported"};
  const auto chatJson = encode(chat);
  EXPECT_EQ(
      chatJson,
      R"({"provider":"telegram","conversation":{"id":"c1","name":"Team","type":"group","participantCount":5},)"
      R"("captureMethod":"export-import","messages":[{"sender":"Bo","type":"text","text":"hi"},)"
      R"({"id":"m2","sender":"Ana","sentAt":1700000000000,"type":"image","text":"look","itemIndex":3,)"
      R"("replyToId":"m1","meta":{"k":"v"}}],"note":"exported"})");
  EXPECT_EQ(decode<ChatPayload>(chatJson), chat);

  EXPECT_EQ(
      encode(photo()),
      R"({"clientItemId":"item-1","fileName":"photo.jpg","type":"image","mime":"image/jpeg",)"
      R"("originalName":"  Urlaub 🌊.jpg ","size":10,"sha256":"ab12","width":640,"height":480})");
  WatermarkSettings mark{true, "draft", "center", 0.5, "#ff0000", 24, -30, true};
  EXPECT_EQ(encode(mark),
            R"({"enabled":true,"text":"draft","position":"center","opacity":0.5,"color":"#ff0000",)"
            R"("font_size":24,"rotation":-30,"repeat":true})");
  EXPECT_EQ(decode<WatermarkSettings>(encode(mark)), mark);
  // A whole-number opacity written by another client as an integer still reads as a double.
  EXPECT_EQ(decode<WatermarkSettings>(R"({"enabled":true,"text":"t","position":"p","opacity":1,)"
                                      R"("color":"c","font_size":1,"rotation":0,"repeat":false})")
                .opacity,
            1.0);
}

TEST(ShareRecordsDecoding, DefaultsTheServicesOwnBytesInt64BoundsStrictTypesAndBadNesting) {
  const auto minimal = decode<StagedShare>(R"({"clientShareId":"x","payload":{"kind":"text"}})");
  EXPECT_EQ(minimal,
            (StagedShare{"x", 0, decode<SharePayload>(R"({"kind":"text"})"), {}, "", {}, 0, {}}));
  EXPECT_EQ(encode(decode<ShareOptions>("{}")),
            R"({"disableDownload":false,"burnAfterReading":false})");

  // A missing total is the sum of the sizes, held at the int64 limit instead of overflowing.
  const auto summed = decode<StagedShare>(
      R"({"clientShareId":"x","payload":{"kind":"file"},"attachments":[)"
      R"({"clientItemId":"a","fileName":"a","type":"file","mime":"m","size":9223372036854775807,"sha256":"s"},)"
      R"({"clientItemId":"b","fileName":"b","type":"file","mime":"m","size":1,"sha256":"s"}]})");
  EXPECT_EQ(summed.totalBytes, std::numeric_limits<std::int64_t>::max());

  const auto stated = decode<StagedShare>(
      R"({"clientShareId":"x","payload":{"kind":"file"},"totalBytes":7,"attachments":[)"
      R"({"clientItemId":"a","fileName":"a","type":"file","mime":"m","size":10,"sha256":"s"}]})");
  EXPECT_EQ(stated.totalBytes, 7);

  const auto nulls = decode<StagedShare>(
      R"({"clientShareId":"x","payload":{"kind":"text","title":null},"createdAt":null,)"
      R"("displayTitle":null,"options":null,"future":{"a":[1,2]}})");
  EXPECT_EQ(nulls, minimal);

  // The service's keys and order come back byte for byte; absent optionals stay absent.
  const std::string notices =
      R"({"success":true,"result":{"notices":[{"id":"n1","type":"share.new","kind":"doc",)"
      R"("slug":"abc","short_url":"https://s.example/abc","source":{"platform":"linux"},)"
      R"("created_at":1,"expires_at":2}],"cursor":7}})";
  EXPECT_EQ(encode(decode<DeviceNoticeListResponse>(notices)), notices);
  const std::string bind =
      R"({"success":true,"result":{"bound":[{"kind":"doc","slug":"a","short_url":"https://s/a"}],)"
      R"("failed":[{"kind":"link","slug":"b","error":"CLAIM_EXPIRED"}]}})";
  EXPECT_EQ(encode(decode<BindResponse>(bind)), bind);
  const std::string claimed =
      R"({"success":true,"result":{"device":{"id":"d","name":"Laptop","platform":"linux",)"
      R"("created_at":5},"device_token":"t","uid":"u"}})";
  EXPECT_EQ(encode(decode<PairClaimResponse>(claimed)), claimed);
  EXPECT_THROW(decode<BindItem>(R"({"kind":"doc","slug":"a"})"), ShareJSONError);
  const auto attachment = [](const std::string& size) {
    return decode<StagedAttachment>(
        R"({"clientItemId":"a","fileName":"f","type":"file","mime":"m",)"
        R"("sha256":"s","size":)" +
        size + "}");
  };
  EXPECT_EQ(attachment("9223372036854775807").size, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(attachment("-9223372036854775808").size, std::numeric_limits<std::int64_t>::min());

  const auto kindOf = [&](const std::string& size) {
    const auto error = testing::thrown<ShareJSONError>([&] { attachment(size); }).value();
    EXPECT_EQ(error.path(), "size");
    return error.kind();
  };
  EXPECT_EQ(kindOf("9223372036854775808"), ShareJSONError::Kind::outOfRange);
  EXPECT_EQ(kindOf("99999999999999999999999"), ShareJSONError::Kind::typeMismatch);
  EXPECT_EQ(kindOf("1.5"), ShareJSONError::Kind::typeMismatch);
  EXPECT_EQ(kindOf(R"("10")"), ShareJSONError::Kind::typeMismatch);
  EXPECT_EQ(kindOf("null"), ShareJSONError::Kind::missingKey);

  const auto failure = [](std::string_view json) {
    return testing::thrown<ShareJSONError>([&] { decode<StagedShare>(json); }).value().path();
  };
  EXPECT_EQ(failure(R"({"clientShareId":"x","payload":{}})"), "payload.kind");
  EXPECT_EQ(failure(R"({"payload":{"kind":"text"}})"), "clientShareId");
  EXPECT_EQ(failure(R"({"clientShareId":"x","payload":{"kind":"text","meta":{"a":1}}})"),
            "payload.meta.a");
  EXPECT_EQ(
      failure(
          R"({"clientShareId":"x","payload":{"kind":"text"},"attachments":[{"clientItemId":"a"}]})"),
      "attachments[0].fileName");
  EXPECT_EQ(
      failure(
          R"({"clientShareId":"x","payload":{"kind":"text"},"options":{"disableDownload":"no"}})"),
      "options.disableDownload");
  EXPECT_THROW(decode<StagedShare>("{\"clientShareId\":"), ShareJSONError);
  EXPECT_THROW(decode<StagedShare>("{\"clientShareId\":\"\xff\",\"payload\":{\"kind\":\"t\"}}"),
               ShareJSONError);
}

TEST(StagedAttachment, UploadFileNamePrefersTheTrimmedOriginalNameAndLocationsStayInTheFolder) {
  auto attachment = photo();
  EXPECT_EQ(attachment.uploadFileName(), "Urlaub 🌊.jpg");
  attachment.originalName = " \n\t ";
  EXPECT_EQ(attachment.uploadFileName(), "photo.jpg");
  attachment.originalName.reset();
  EXPECT_EQ(attachment.uploadFileName(), "photo.jpg");

  const std::filesystem::path folder = "/store/pending/id-1";
  const StagedShare share{"id-1", 0, SharePayload{}, {}, "", {}, 0, {}};
  EXPECT_EQ(share.url(attachment, folder), folder / "photo.jpg");
  using namespace std::string_literals;
  for (const auto& hostile : {".."s, "."s, ""s, "../../token.json"s, "/etc/passwd"s, "a\0b"s}) {
    attachment.fileName = hostile;
    const auto location = share.url(attachment, folder);
    EXPECT_EQ(location.parent_path(), folder) << attachment.fileName;
    EXPECT_NE(location.filename(), "..");
    EXPECT_NE(location.filename(), ".");
  }
  attachment.fileName = "100%.txt";
  EXPECT_EQ(share.url(attachment, folder), folder / "100%.txt");
}

}  // namespace
}  // namespace lumo
