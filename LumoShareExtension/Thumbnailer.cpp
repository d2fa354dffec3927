#include "Thumbnailer.hpp"

#include <dlfcn.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/macros.h>
}

#include <memory>
#include <string_view>
#include <vector>

namespace lumo::Thumbnailer {
namespace {

/// The libraries by their SONAMEs for the major versions of the headers built against: the
/// structures read below are those of that version, and the unversioned names exist only where
/// the development packages are installed.
constexpr const char* formatLibraryName = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
constexpr const char* utilityLibraryName = "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR);

/// The FFmpeg functions the probes call. FFmpeg is loaded when a probe first needs it rather than
/// linked: loading it with everything it pulls in (codecs, TLS, X11, ...) would cost every start
/// of every program, and most shares never probe a picture or a movie.
struct MediaLibrary {
  decltype(&avformat_open_input) openInput = nullptr;
  decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
  decltype(&avformat_close_input) closeInput = nullptr;
  decltype(&av_dict_set) dictionarySet = nullptr;
  decltype(&av_dict_free) dictionaryFree = nullptr;
  decltype(&av_log_set_level) setLogLevel = nullptr;
};

struct LibraryCloser {
  void operator()(void* library) const { ::dlclose(library); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

/// Points `function` at the library's symbol `name`; whether it has one.
template <class Function>
bool resolve(void* library, const char* name, Function*& function) {
  function = reinterpret_cast<Function*>(::dlsym(library, name));
  return function != nullptr;
}

/// Loads FFmpeg and looks its functions up; nothing when either library or any function is
/// missing. The libraries stay loaded for the life of the process.
std::optional<MediaLibrary> loadMediaLibrary() {
  LibraryHandle format(::dlopen(formatLibraryName, RTLD_NOW | RTLD_LOCAL));
  LibraryHandle utility(::dlopen(utilityLibraryName, RTLD_NOW | RTLD_LOCAL));
  if (!format || !utility) return std::nullopt;
  MediaLibrary library;
  const bool complete =
      resolve(format.get(), "avformat_open_input", library.openInput) &&
      resolve(format.get(), "avformat_find_stream_info", library.findStreamInfo) &&
      resolve(format.get(), "avformat_close_input", library.closeInput) &&
      resolve(utility.get(), "av_dict_set", library.dictionarySet) &&
      resolve(utility.get(), "av_dict_free", library.dictionaryFree) &&
      resolve(utility.get(), "av_log_set_level", library.setLogLevel);
  if (!complete) return std::nullopt;
  library.setLogLevel(AV_LOG_QUIET);  // problems mean "unknown"
  format.release();
  utility.release();
  return library;
}

/// FFmpeg, loaded by the first probe of the process (on whichever thread); null when it cannot
/// be loaded, and every probe then answers "unknown".
const MediaLibrary* mediaLibrary() {
  static const std::optional<MediaLibrary> library = loadMediaLibrary();
  return library ? &*library : nullptr;
}

/// A context exists only once FFmpeg is loaded.
struct FormatContextCloser {
  void operator()(AVFormatContext* context) const { mediaLibrary()->closeInput(&context); }
};
using FormatContext = std::unique_ptr<AVFormatContext, FormatContextCloser>;

/// Opens and probes `file`; null when it cannot be, or when FFmpeg cannot be loaded. The
/// decoders that probing may consult are told to skip every frame, so they read headers
/// (dimensions) and never decode pictures.
FormatContext openProbed(const std::filesystem::path& file) {
  const auto* av = mediaLibrary();
  if (av == nullptr) return nullptr;
  AVFormatContext* raw = nullptr;
  if (av->openInput(&raw, file.c_str(), nullptr, nullptr) < 0) return nullptr;
  FormatContext context(raw);
  std::vector<AVDictionary*> options(context->nb_streams, nullptr);
  for (auto& streamOptions : options) av->dictionarySet(&streamOptions, "skip_frame", "all", 0);
  const int probed = av->findStreamInfo(context.get(), options.data());
  for (auto& streamOptions : options) av->dictionaryFree(&streamOptions);
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
