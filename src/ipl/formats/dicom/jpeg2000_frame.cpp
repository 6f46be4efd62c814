#include "ipl/formats/dicom/jpeg2000_frame.h"

#include <openjpeg.h>

#include <cstdio>
#include <cstring>

namespace velIPL {

namespace {

struct Source {
  const unsigned char* data = nullptr;
  OPJ_UINT64 size = 0;
  OPJ_UINT64 at = 0;
  char message[200] = {};
};

OPJ_SIZE_T readBytes(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* s = static_cast<Source*>(user);
  if (s->at >= s->size) return static_cast<OPJ_SIZE_T>(-1);
  const OPJ_UINT64 n = count < s->size - s->at ? count : s->size - s->at;
  std::memcpy(buffer, s->data + s->at, static_cast<std::size_t>(n));
  s->at += n;
  return static_cast<OPJ_SIZE_T>(n);
}

OPJ_OFF_T skipBytes(OPJ_OFF_T count, void* user) {
  auto* s = static_cast<Source*>(user);
  if (count < 0 || static_cast<OPJ_UINT64>(count) > s->size - s->at) return -1;
  s->at += static_cast<OPJ_UINT64>(count);
  return count;
}

OPJ_BOOL seekTo(OPJ_OFF_T position, void* user) {
  auto* s = static_cast<Source*>(user);
  if (position < 0 || static_cast<OPJ_UINT64>(position) > s->size) return OPJ_FALSE;
  s->at = static_cast<OPJ_UINT64>(position);
  return OPJ_TRUE;
}

void keepError(const char* message, void* user) {
  auto* s = static_cast<Source*>(user);
  if (s->message[0] == '\0') std::snprintf(s->message, sizeof s->message, "%s", message ? message : "");
}

void ignore(const char*, void*) {}

// Owns OpenJPEG's objects for one decode.
struct Session {
  opj_stream_t* stream = nullptr;
  opj_codec_t* codec = nullptr;
  opj_image_t* image = nullptr;
  ~Session() {
    if (image) opj_image_destroy(image);
    if (codec) opj_destroy_codec(codec);
    if (stream) opj_stream_destroy(stream);
  }
};

}  // namespace

bool Jpeg2000Frame::decode(const unsigned char* data, std::size_t size, unsigned char* out, std::string& why) const {
  Source source;
  source.data = data;
  source.size = size;
  // A JP2 file starts with its signature box; a raw codestream with SOC.
  const bool jp2 = size >= 12 && std::memcmp(data + 4, "jP  ", 4) == 0;
  Session s;
  s.stream = opj_stream_create(1 << 16, OPJ_TRUE);
  s.codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  if (!s.stream || !s.codec) {
    why = "out of memory";
    return false;
  }
  opj_stream_set_user_data(s.stream, &source, nullptr);
  opj_stream_set_user_data_length(s.stream, source.size);
  opj_stream_set_read_function(s.stream, readBytes);
  opj_stream_set_skip_function(s.stream, skipBytes);
  opj_stream_set_seek_function(s.stream, seekTo);
  opj_set_error_handler(s.codec, keepError, &source);
  opj_set_warning_handler(s.codec, ignore, nullptr);
  opj_set_info_handler(s.codec, ignore, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  const auto failed = [&](const char* what) {
    why = source.message[0] ? std::string(what) + ": " + source.message : what;
    return false;
  };
  if (!opj_setup_decoder(s.codec, &parameters)) return failed("JPEG 2000 decoder refused");
  if (!opj_read_header(s.stream, s.codec, &s.image) || !s.image) return failed("JPEG 2000 header unreadable");
  const opj_image_t& image = *s.image;
  if (static_cast<long long>(image.x1) - image.x0 != width || static_cast<long long>(image.y1) - image.y0 != height ||
      static_cast<int>(image.numcomps) != components) {
    return failed("JPEG 2000 frame does not match the data set");
  }
  for (int c = 0; c < components; ++c) {
    const opj_image_comp_t& comp = image.comps[c];
    if (comp.dx != 1 || comp.dy != 1 || comp.sgnd || comp.prec < 1 || static_cast<int>(comp.prec) > bits) {
      return failed("JPEG 2000 components do not match the data set");
    }
  }
  if (!opj_decode(s.codec, s.stream, s.image) || !opj_end_decompress(s.codec, s.stream)) {
    return failed("JPEG 2000 data broken");
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  for (int c = 0; c < components; ++c) {
    const opj_image_comp_t& comp = image.comps[c];
    if (!comp.data || comp.w != static_cast<OPJ_UINT32>(width) || comp.h != static_cast<OPJ_UINT32>(height)) {
      return failed("JPEG 2000 frame does not match the data set");
    }
    const OPJ_INT32 top = static_cast<OPJ_INT32>((1u << comp.prec) - 1);
    for (std::size_t i = 0; i < pixels; ++i) {
      OPJ_INT32 v = comp.data[i];
      v = v < 0 ? 0 : v > top ? top : v;
      const std::size_t at = i * components + c;
      if (bits == 8) {
        out[at] = static_cast<unsigned char>(v);
      } else {
        out[2 * at] = static_cast<unsigned char>(v);
        out[2 * at + 1] = static_cast<unsigned char>(v >> 8);
      }
    }
  }
  return true;
}

}  // namespace velIPL
