#pragma once

#include <cstdint>

// GNU mode predefines `linux` as 1; the platform vocabulary needs the plain word.
#ifdef linux
#undef linux
#endif

namespace lumo {

/// Version of the share-record protocol this client speaks.
inline constexpr std::int64_t lumoShareProtocolVersion = 1;

// String vocabularies. The record fields that use them hold plain strings, so a decoder accepts
// any value; these constants are the values this client writes and recognises.

namespace ShareKindValues {
inline constexpr char text[] = "text";
inline constexpr char link[] = "link";
inline constexpr char image[] = "image";
inline constexpr char audio[] = "audio";
inline constexpr char video[] = "video";
inline constexpr char file[] = "file";
inline constexpr char chat[] = "chat";
inline constexpr char mixed[] = "mixed";
}  // namespace ShareKindValues

namespace PlatformValues {
inline constexpr char windows[] = "windows";
inline constexpr char macos[] = "macos";
inline constexpr char linux[] = "linux";
inline constexpr char android[] = "android";
inline constexpr char ios[] = "ios";
inline constexpr char web[] = "web";
inline constexpr char browserExt[] = "browser-ext";
inline constexpr char cli[] = "cli";
inline constexpr char esp32[] = "esp32";
}  // namespace PlatformValues

namespace ChatProviderValues {
inline constexpr char wechat[] = "wechat";
inline constexpr char qq[] = "qq";
inline constexpr char x[] = "x";
inline constexpr char facebook[] = "facebook";
inline constexpr char whatsapp[] = "whatsapp";
inline constexpr char telegram[] = "telegram";
inline constexpr char signal[] = "signal";
inline constexpr char other[] = "other";
}  // namespace ChatProviderValues

namespace CaptureMethodValues {
inline constexpr char shareSheet[] = "share-sheet";
inline constexpr char notification[] = "notification";
inline constexpr char accessibility[] = "accessibility";
inline constexpr char exportImport[] = "export-import";
inline constexpr char webContentScript[] = "web-content-script";
inline constexpr char api[] = "api";
inline constexpr char manual[] = "manual";
}  // namespace CaptureMethodValues

namespace ConversationTypeValues {
inline constexpr char dm[] = "dm";
inline constexpr char group[] = "group";
inline constexpr char channel[] = "channel";
}  // namespace ConversationTypeValues

namespace MessageTypeValues {
inline constexpr char text[] = "text";
inline constexpr char image[] = "image";
inline constexpr char voice[] = "voice";
inline constexpr char video[] = "video";
inline constexpr char file[] = "file";
inline constexpr char sticker[] = "sticker";
inline constexpr char link[] = "link";
inline constexpr char system[] = "system";
}  // namespace MessageTypeValues

namespace ItemTypeValues {
inline constexpr char image[] = "image";
inline constexpr char audio[] = "audio";
inline constexpr char video[] = "video";
inline constexpr char file[] = "file";
}  // namespace ItemTypeValues

namespace NoticeTypeValues {
inline constexpr char shareNew[] = "share.new";
inline constexpr char shareUpdated[] = "share.updated";
inline constexpr char shareDeleted[] = "share.deleted";
inline constexpr char ping[] = "ping";
}  // namespace NoticeTypeValues

namespace AckStatusValues {
inline constexpr char shown[] = "shown";
inline constexpr char stored[] = "stored";
inline constexpr char error[] = "error";
inline constexpr char skip[] = "skip";
}  // namespace AckStatusValues

namespace PairStatusValues {
inline constexpr char pending[] = "pending";
inline constexpr char claimed[] = "claimed";
inline constexpr char expired[] = "expired";
}  // namespace PairStatusValues

namespace BindKindValues {
inline constexpr char doc[] = "doc";
inline constexpr char link[] = "link";
}  // namespace BindKindValues

}  // namespace lumo
