// ImageDecoder: the one seam through which every image file is read.
//
// Each input format is one decoder object in the table imageDecoders(); the
// image list, the command line, GImage(fileName) and the merge engine find a
// file's decoder by its first bytes and go through it (the name counts only
// for a file that no decoder recognises; see decoderFor).
// A decoder is stateless and shared; open() gives an ImageFile that holds the
// opened file and reads its frames one at a time, cheapest in file order, so
// memory does not grow with the frame count.
//
// Every failure throws IPLException with a fixed English message; no decoder
// prints, and no third-party type or error escapes it. Sizes a header claims
// are checked against limits and against what the file can hold before
// anything is allocated for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ipl/image_base.h"
#include "ipl/images.h"

namespace velIPL {

// 16-bit grey: frames of 16-bit series (12-bit data stored in 16 included).
class G16Image : public ImageBase<std::uint16_t, 1> {
public:
  using ImageBase::ImageBase;
};

// What a file holds, as far as its headers tell.
struct ImageFileInfo {
  std::string format;          // the decoder's name(): "BMP", "TIFF", ...
  int width = 0;               // every frame's width and height (rows,
  int height = 0;              // never negative, whatever the row order)
  bool topDown = false;        // rows stored from the top (a BMP's negative
                               // height); readers always turn them upright
  int frames = 1;              // pages of a TIFF, frames of a DICOM
  int bitsPerSample = 8;       // 8 or 16: the depth the frames are read at
  int significantBits = 8;     // bits in use, where the file says (12 in 16)
  int samplesPerPixel = 1;     // 1 grey or palette, 3 colour (before grey)
  double pixelSpacingX = 0.0;  // millimetres per column; 0 when not known
  double pixelSpacingY = 0.0;  // millimetres per row; 0 when not known
  std::string modality;        // DICOM's modality; empty elsewhere
  double sliceSpacing = 0.0;   // millimetres between a stack's pages, where
                               // an ImageJ header or DICOM's Spacing Between
                               // Slices says; 0 when not known
  std::string software;        // the program that wrote the file, where it
                               // says (PNG "Software" text, TIFF Software
                               // tag; at most 200 bytes); empty elsewhere
  bool floatingPoint = false;  // 32-bit float values (bitsPerSample 32), as
                               // an unrounded average is written: read as
                               // values, never admitted as frames
};

// An opened file. Frames are numbered from 0 in file order.
class ImageFile {
public:
  virtual ~ImageFile() = default;

  virtual const ImageFileInfo& info() const = 0;

  // Frame index as 8-bit grey; only for files of 8 bits per sample.
  virtual void readFrame(int index, GImage& target) = 0;

  // Frame index as 16-bit grey; for files of 16 bits per sample.
  virtual void readFrame(int index, G16Image& target) = 0;

  // Frame index as the values it holds; only for floating-point files
  // (throws "Not a floating-point image" for any other).
  virtual void readFrame(int index, DImage& target);
};

class ImageDecoder {
public:
  // How many leading bytes recognises() is given at most (DICOM's "DICM"
  // stands at offset 128).
  static constexpr std::size_t signatureLength = 132;

  virtual ~ImageDecoder() = default;

  virtual std::string_view key() const = 0;   // "bmp", "tiff", "png", "dicom"
  virtual std::string_view name() const = 0;  // "BMP", "TIFF", "PNG", "DICOM"

  // The usual file name extensions, lower case with the dot (".tif").
  virtual std::vector<std::string_view> extensions() const = 0;

  // Whether a file starting with these bytes is of this format.
  virtual bool recognises(std::span<const unsigned char> head) const = 0;

  // Checks the headers without decoding pixels; throws IPLException for a
  // file this decoder refuses.
  virtual ImageFileInfo probe(const std::string& fileName) const = 0;

  // Opens the file for reading frames; throws IPLException.
  virtual std::unique_ptr<ImageFile> open(const std::string& fileName) const = 0;
};

// Every decoder, BMP first.
const std::vector<const ImageDecoder*>& imageDecoders();

// The decoder whose signature the file's first bytes match. A file that no
// decoder recognises goes to the BMP decoder, whose messages ("File is not a
// bitmap image", "Not a bmp image", ...) have always been the ones shown for
// a file that is not an image, unless its name ends in another decoder's
// extension: a ".tif" that is no TIFF is an "Unknown image format", not a
// broken bitmap. Throws "Can't open image file" for a path that is missing,
// unreadable or not a regular file.
const ImageDecoder& decoderFor(const std::string& fileName);

// The same choice for a file whose first bytes (at most signatureLength)
// are already at hand; fileName only lends its extension.
const ImageDecoder& decoderFor(std::span<const unsigned char> head, std::string_view fileName);

// Checks a file before it joins a series, the way the image list and the
// command line admit files: its decoder's probe, without decoding pixels.
// Returns true with info filled when the file is accepted. Returns false
// with the decoder's reason in message when it is refused, and false with
// message untouched when the file cannot be opened (missing, unreadable, not
// a regular file), so the caller sets its own default text beforehand.
// Throws nothing but std::bad_alloc.
bool probeImageFile(const std::string& fileName, ImageFileInfo& info, std::string& message);

// The same check for describing or reading a file rather than merging it:
// a floating-point file (an average this program wrote) is accepted too,
// where probeImageFile refuses it as a frame ("Unsupported TIFF:
// floating-point samples; an average is a result, not a frame to merge").
bool inspectImageFile(const std::string& fileName, ImageFileInfo& info, std::string& message);

// Whether the name's extension is one of the decoders', in any case; the
// extension as std::filesystem splits it off (".bmp" alone is a hidden file
// without one), the way a folder of scans is searched for images.
bool hasImageExtension(std::string_view fileName);

}  // namespace velIPL
