#include "Thumbnailer.hpp"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace lumo::Thumbnailer {
namespace {

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using FormatContext = std::unique_ptr<AVFormatContext, FormatContextCloser>;

/// Opens and probes `file`. The decoders that probing may consult are told to skip every frame,
/// so they read headers (dimensions) and never decode pictures.
FormatContext openProbed(const std::filesystem::path& file) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });  // problems mean "unknown"
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return nullptr;
  FormatContext context(raw);
  std::vector<AVDictionary*> options(context->nb_streams, nullptr);
  for (auto& streamOptions : options) av_dict_set(&streamOptions, "skip_frame", "all", 0);
  const int probed = avformat_find_stream_info(context.get(), options.data());
  for (auto& streamOptions : options) av_dict_free(&streamOptions);
  if (probed < 0) return nullptr;
  return context;
}

/// FFmpeg's still-image demuxers ("image2", "jpeg_pipe", "png_pipe", ...) invent a one-frame
/// duration; a still image has none.
bool isStillImageFormat(const AVFormatContext& context) {
  const std::string_view name = context.iformat->name;
  return name == "image2" || (name.size() > 5 && name.substr(name.size() - 5) == "_pipe");
}

/// Formats that hold pictures: the still-image demuxers and animated pictures. A video stream in
/// a movie container is no image, whatever the file is called.
bool isPictureFormat(const AVFormatContext& context) {
  const std::string_view name = context.iformat->name;
  return isStillImageFormat(context) || name == "gif" || name == "apng";
}

}  // namespace

std::optional<PixelSize> imagePixelSize(const std::filesystem::path& file) {
  const auto context = openProbed(file);
  if (!context || !isPictureFormat(*context)) return std::nullopt;
  for (unsigned index = 0; index < context->nb_streams; ++index) {
    const auto* parameters = context->streams[index]->codecpar;
    if (parameters->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (parameters->width <= 0 || parameters->height <= 0) return std::nullopt;
    return PixelSize{parameters->width, parameters->height};
  }
  return std::nullopt;
}

std::optional<std::int64_t> videoDurationMs(const std::filesystem::path& file) {
  const auto context = openProbed(file);
  if (!context || isStillImageFormat(*context) || context->duration == AV_NOPTS_VALUE ||
      context->duration <= 0) {
    return std::nullopt;
  }
  return context->duration / (AV_TIME_BASE / 1000);
}

}  // namespace lumo::Thumbnailer
