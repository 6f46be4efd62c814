#include "ipl/formats/dicom/dicom_writer.h"

#include <gdcmAttribute.h>
#include <gdcmImageChangeTransferSyntax.h>
#include <gdcmImageWriter.h>
#include <gdcmMediaStorage.h>
#include <gdcmSequenceOfFragments.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmUIDGenerator.h>
#include <gdcmWriter.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "ipl/formats/dicom/gdcm_quiet.h"
#include "ipl/formats/dicom/rle_frame.h"
#include "ipl/formats/frame_rules.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

gdcm::TransferSyntax::TSType syntaxOf(DicomCompression compression) {
  switch (compression) {
    case DicomCompression::rle: return gdcm::TransferSyntax::RLELossless;
    case DicomCompression::jpegLs: return gdcm::TransferSyntax::JPEGLSLossless;
    case DicomCompression::jpeg2000: return gdcm::TransferSyntax::JPEG2000Lossless;
    case DicomCompression::none: break;
  }
  return gdcm::TransferSyntax::ExplicitVRLittleEndian;
}

void setString(gdcm::DataSet& ds, std::uint16_t group, std::uint16_t element, const gdcm::VR& vr, std::string value) {
  if (value.size() % 2) value += vr == gdcm::VR::UI ? '\0' : ' ';
  gdcm::DataElement de(gdcm::Tag(group, element));
  de.SetVR(vr);
  de.SetByteValue(value.data(), static_cast<std::uint32_t>(value.size()));
  ds.Replace(de);
}

// GDCM fills the shared functional groups' Pixel Measures in from the
// image's spacing, 1 mm each way where none was given, and 1 mm between
// frames always. A reader would take them for the scan's scale, so they go:
// Spacing Between Slices always (the frames of a series are repeats of one
// section, or positions whose step the writer is not told), Pixel Spacing
// when none was given.
void dropPlaceholderSpacing(gdcm::DataSet& ds, bool pixelSpacingGiven) {
  const gdcm::Tag shared(0x5200, 0x9229), measures(0x0028, 0x9110);
  if (!ds.FindDataElement(shared)) return;
  gdcm::DataElement sharedElement = ds.GetDataElement(shared);
  const gdcm::SmartPointer<gdcm::SequenceOfItems> groups = sharedElement.GetValueAsSQ();
  if (!groups || groups->GetNumberOfItems() == 0) return;
  gdcm::DataSet& group = groups->GetItem(1).GetNestedDataSet();
  if (!group.FindDataElement(measures)) return;
  gdcm::DataElement measuresElement = group.GetDataElement(measures);
  const gdcm::SmartPointer<gdcm::SequenceOfItems> items = measuresElement.GetValueAsSQ();
  if (!items || items->GetNumberOfItems() == 0) return;
  gdcm::DataSet& kept = items->GetItem(1).GetNestedDataSet();
  kept.Remove(gdcm::Tag(0x0018, 0x0088));
  if (!pixelSpacingGiven) kept.Remove(gdcm::Tag(0x0028, 0x0030));
  if (kept.IsEmpty()) {
    group.Remove(measures);
  } else {
    measuresElement.SetValue(*items);
    group.Replace(measuresElement);
  }
  sharedElement.SetValue(*groups);
  ds.Replace(sharedElement);
}


}  // namespace

template <typename Image>
void DicomWriter::add(const Image& frame, int bits) {
  if (frame.width() <= 0 || frame.height() <= 0) throw IPLException("Empty image");
  if (frames_ == 0) {
    width_ = frame.width();
    height_ = frame.height();
    bits_ = bits;
  } else if (frame.width() != width_ || frame.height() != height_) {
    throw IPLException("Frames of different sizes");
  } else if (bits != bits_) {
    throw IPLException("Frames of different depths");
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * (bits / 8);
  for (int y = 0; y < height_; ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(frame.row(y));
    pixels_.insert(pixels_.end(), row, row + rowBytes);  // little-endian host
  }
  ++frames_;
}

void DicomWriter::addFrame(const GImage& frame) { add(frame, 8); }
void DicomWriter::addFrame(const G16Image& frame) { add(frame, 16); }

std::vector<unsigned char> DicomWriter::encode() const {
  if (frames_ == 0) throw IPLException("Empty image");
  // GDCM's JPEG 2000 encoder corrupts the heap on frames under 16 pixels a
  // side (GDCM 3.0.21 with OpenJPEG 2.5), so those are refused first.
  if (options_.compression == DicomCompression::jpeg2000 && std::min(width_, height_) < minJpeg2000Side) {
    throw IPLException("Image too small for JPEG 2000");
  }
  quietGdcm();
  std::ostringstream out;
  bool written = false;
  try {
    gdcm::ImageWriter writer;
    gdcm::Image& image = writer.GetImage();
    image.SetNumberOfDimensions(3);
    image.SetDimension(0, static_cast<unsigned>(width_));
    image.SetDimension(1, static_cast<unsigned>(height_));
    image.SetDimension(2, static_cast<unsigned>(frames_));
    image.SetPixelFormat(gdcm::PixelFormat(bits_ == 8 ? gdcm::PixelFormat::UINT8 : gdcm::PixelFormat::UINT16));
    image.SetPhotometricInterpretation(gdcm::PhotometricInterpretation::MONOCHROME2);
    image.SetTransferSyntax(gdcm::TransferSyntax::ExplicitVRLittleEndian);
    if (options_.pixelSpacingX > 0 && options_.pixelSpacingY > 0) {
      image.SetSpacing(0, options_.pixelSpacingX);
      image.SetSpacing(1, options_.pixelSpacingY);
    }
    gdcm::DataElement pixelData(gdcm::Tag(0x7fe0, 0x0010));
    pixelData.SetByteValue(reinterpret_cast<const char*>(pixels_.data()), static_cast<std::uint32_t>(pixels_.size()));
    image.SetDataElement(pixelData);
    if (options_.compression == DicomCompression::rle) {
      gdcm::SmartPointer<gdcm::SequenceOfFragments> sequence = new gdcm::SequenceOfFragments;
      const std::size_t frameBytes = pixels_.size() / static_cast<std::size_t>(frames_);
      const RleFrame codec{width_, height_, 1, bits_ / 8};
      for (int f = 0; f < frames_; ++f) {
        const std::vector<unsigned char> runs = codec.encode(pixels_.data() + static_cast<std::size_t>(f) * frameBytes);
        gdcm::Fragment fragment;
        fragment.SetByteValue(reinterpret_cast<const char*>(runs.data()), static_cast<std::uint32_t>(runs.size()));
        sequence->AddFragment(fragment);
      }
      pixelData.SetValue(*sequence);
      pixelData.SetVR(gdcm::VR::OB);
      image.SetDataElement(pixelData);
      image.SetTransferSyntax(gdcm::TransferSyntax::RLELossless);
    } else if (options_.compression != DicomCompression::none) {
      gdcm::ImageChangeTransferSyntax change;
      change.SetTransferSyntax(syntaxOf(options_.compression));
      change.SetInput(image);
      if (!change.Change()) throw IPLException("Cannot write image: compression failed");
      writer.SetImage(change.GetOutput());
    }
    gdcm::DataSet& ds = writer.GetFile().GetDataSet();
    const gdcm::MediaStorage storage(bits_ == 8 ? gdcm::MediaStorage::MultiframeGrayscaleByteSecondaryCaptureImageStorage
                                                : gdcm::MediaStorage::MultiframeGrayscaleWordSecondaryCaptureImageStorage);
    setString(ds, 0x0008, 0x0016, gdcm::VR::UI, storage.GetString());
    setString(ds, 0x0008, 0x0060, gdcm::VR::CS, "OPT");
    // The image writer completes the data set as it writes; the file is
    // written again once the placeholders are out.
    std::ostringstream draft;
    writer.SetStream(draft);
    written = writer.Write();
    if (written) {
      draft.str(std::string());
      dropPlaceholderSpacing(writer.GetFile().GetDataSet(), options_.pixelSpacingX > 0 && options_.pixelSpacingY > 0);
      gdcm::Writer plain;
      plain.SetFile(writer.GetFile());
      plain.SetStream(out);
      written = plain.Write();
    }
  } catch (const IPLException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    written = false;
  }
  if (!written || !out) throw IPLException("Cannot write image");
  const std::string bytes = out.str();
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

void DicomWriter::writeFile(const std::string& fileName) const {
  const std::vector<unsigned char> bytes = encode();
  saveFileBytes(fileName, bytes.data(), bytes.size());
}

}  // namespace velIPL
