// lumifold-cli on the formats beyond BMP: a series simulated as a
// multi-page TIFF, PNG files or a DICOM file merges exactly as its BMP
// files; pictures are written in the format their names ask for; --frames
// keeps a selection; probe describes every format.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "merge/merger.h"
#include "scratch_folder.h"

namespace {

using clitest::CliRun;
using clitest::concat;
using clitest::runCli;
using clitest::seriesFrames;
using testutil::readAll;

class FormatsCli : public ::testing::Test {
protected:
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  CliRun cli(const std::vector<std::string>& args) const { return runCli(LUMIFOLD_CLI_PATH, dir_, args); }

  // The same simulated series (6 frames of 96 x 80) into folder name, in
  // the given --format.
  void simulate(const std::string& name, const std::string& format, int frames = 6) const {
    const CliRun run = cli({"simulate", name, "--format", format, "--frames", std::to_string(frames), "--width", "96",
                            "--height", "80", "--max-shift", "5", "--seed", "15", "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  const testutil::ScratchFolder folder_;
  const std::string dir_ = folder_.path().string();
};

void expectSameGrey(const std::string& a, const std::string& b) {
  const velIPL::GImage x(a);
  const velIPL::GImage y(b);
  ASSERT_EQ(x.width(), y.width()) << a;
  ASSERT_EQ(x.height(), y.height()) << a;
  for (int r = 0; r < x.height(); ++r) {
    for (int c = 0; c < x.width(); ++c) ASSERT_EQ(x.at(c, r), y.at(c, r)) << a << " at " << c << ", " << r;
  }
}

// The shift table without its first column, which names the frames.
std::string shiftsOnly(const std::string& csv) {
  std::istringstream in(csv);
  std::string result;
  for (std::string line; std::getline(in, line);) result += line.substr(line.find(',')) + '\n';
  return result;
}

// The one page of a 32-bit floating-point grey TIFF, through libtiff.
std::vector<float> floatPage(const std::string& path, int& width, int& height) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  std::vector<float> values;
  if (!tiff) return values;
  std::uint32_t w = 0, h = 0;
  std::uint16_t bits = 0, format = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  if (bits == 32 && format == SAMPLEFORMAT_IEEEFP) {
    values.resize(static_cast<std::size_t>(w) * h);
    for (std::uint32_t y = 0; y < h; ++y) TIFFReadScanline(tiff, values.data() + static_cast<std::size_t>(y) * w, y);
  }
  TIFFClose(tiff);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return values;
}

}  // namespace

TEST_F(FormatsCli, StackMergesAsItsBmpFilesIntoPngTiffAndFloatAverage) {
  simulate("bmps", "bmp");
  simulate("stack", "tif-stack");
  const std::vector<std::string> frames = seriesFrames("bmps", 6);
  ASSERT_EQ(cli(concat({"merge", "-q", "-o", "ref.bmp", "--grey", "ref_grey.bmp", "--shifts", "ref.csv"}, frames)).status, 0);
  const CliRun run = cli({"merge", "stack/series.tif", "-o", "result.png", "--grey", "grey.tif", "--average", "mean.tif",
                          "--shifts", "stack.csv"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {"Merged 6 frames of 96 x 80", "Wrote result.png (Rainbow)", "Wrote grey.tif (grey average)",
                           "Wrote mean.tif (unrounded average, 32-bit float)"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
  }
  EXPECT_EQ(velIPL::decoderFor(at("result.png")).name(), "PNG");
  expectSameGrey(at("result.png"), at("ref.bmp"));
  EXPECT_EQ(velIPL::decoderFor(at("grey.tif")).name(), "TIFF");
  expectSameGrey(at("grey.tif"), at("ref_grey.bmp"));
  EXPECT_EQ(shiftsOnly(readAll(at("stack.csv"))), shiftsOnly(readAll(at("ref.csv"))));
  EXPECT_EQ(readAll(at("stack.csv")).rfind("stack/series.tif [frame 2 of 6],", 0), 0u);

  std::vector<std::string> paths;
  for (const std::string& f : frames) paths.push_back(at(f));
  lumifold::Merger merger(paths);
  merger.mergeByCorrelation();
  const velIPL::DImage mean = merger.average();
  int width = 0, height = 0;
  const std::vector<float> written = floatPage(at("mean.tif"), width, height);
  ASSERT_EQ(written.size(), 96u * 80u);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(written[static_cast<std::size_t>(y) * width + x], static_cast<float>(mean.at(x, y))) << x << ", " << y;
    }
  }
}

TEST_F(FormatsCli, FoldersAndFrameSelectionsMergeTheFramesTheyName) {
  simulate("bmps", "bmp");
  simulate("pngs", "png");
  simulate("dicom", "dcm");
  const std::vector<std::string> frames = seriesFrames("bmps", 6);
  ASSERT_EQ(cli({"merge", "-q", "bmps", "-o", "all.bmp"}).status, 0);
  ASSERT_EQ(cli({"merge", "-q", "pngs", "-o", "pngs.bmp"}).status, 0);
  EXPECT_EQ(readAll(at("pngs.bmp")), readAll(at("all.bmp")));
  // The DICOM file's frames and a selection across two inputs.
  ASSERT_EQ(cli({"merge", "-q", "dicom/series.dcm", "-o", "dicom.bmp", "-a", "anterior-edge"}).status, 0);
  ASSERT_EQ(cli({"merge", "-q", "bmps", "-o", "edge.bmp", "-a", "anterior-edge"}).status, 0);
  EXPECT_EQ(readAll(at("dicom.bmp")), readAll(at("edge.bmp")));
  ASSERT_EQ(cli({"merge", "-q", frames[0], frames[1], frames[3], "-o", "some.bmp"}).status, 0);
  ASSERT_EQ(cli({"merge", "-q", "pngs/frame_000.png", "dicom/series.dcm", "--frames", "0,2,4", "-o", "chosen.bmp"}).status,
            0);
  EXPECT_EQ(readAll(at("chosen.bmp")), readAll(at("some.bmp")));

  const CliRun beyond = cli({"merge", "dicom/series.dcm", "--frames", "2-6"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.err.find("--frames 2-6: frame 6 is beyond the last frame of the inputs (6 frames, numbered from 0)"),
            std::string::npos)
      << beyond.err;
}

TEST_F(FormatsCli, SixteenBitSeriesGivesSixteenBitGrey) {
  simulate("bmps", "bmp");
  const std::vector<std::string> frames = seriesFrames("bmps", 6);
  velIPL::TiffWriter writer;
  for (const std::string& f : frames) {
    const velIPL::GImage grey(at(f));
    velIPL::G16Image wide(grey.width(), grey.height(), 0);
    for (int y = 0; y < grey.height(); ++y) {
      for (int x = 0; x < grey.width(); ++x) wide.at(x, y) = static_cast<std::uint16_t>(grey.at(x, y) * 257);
    }
    writer.addPage(wide);
  }
  writer.writeFile(at("wide.tif"));
  ASSERT_EQ(cli(concat({"merge", "-q", "-o", "ref.bmp", "--grey", "ref_grey.png"}, frames)).status, 0);
  const CliRun run = cli({"merge", "wide.tif", "-o", "wide.bmp", "--grey", "wide_grey.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Wrote wide_grey.png (grey average, 16-bit)"), std::string::npos) << run.out;
  EXPECT_EQ(readAll(at("wide.bmp")), readAll(at("ref.bmp")));
  // A BMP cannot hold 16 bits, and the summary says so; one frame is no average.
  const CliRun narrow = cli({"merge", "wide.tif", "--frames", "2", "-o", "one.bmp", "--grey", "one_grey.bmp"});
  ASSERT_EQ(narrow.status, 0) << narrow.err;
  EXPECT_NE(narrow.out.find("Wrote one_grey.bmp (grey average, 8-bit: BMP holds 8 bits; use .png or .tif for 16)"),
            std::string::npos)
      << narrow.out;
  EXPECT_EQ(narrow.err, "lumifold-cli: warning: one frame merged, nothing was averaged\n");

  const std::unique_ptr<velIPL::ImageFile> file = velIPL::decoderFor(at("wide_grey.png")).open(at("wide_grey.png"));
  ASSERT_EQ(file->info().bitsPerSample, 16);
  velIPL::G16Image grey16;
  file->readFrame(0, grey16);
  const velIPL::GImage grey8(at("ref_grey.png"));
  std::vector<std::string> paths;
  for (const std::string& f : frames) paths.push_back(at(f));
  lumifold::Merger merger(paths);
  merger.mergeByCorrelation();
  const velIPL::DImage mean = merger.average();
  for (int y = 0; y < grey16.height(); ++y) {
    for (int x = 0; x < grey16.width(); ++x) {
      const long long sum8 = std::llround(mean.at(x, y) * 6);
      ASSERT_EQ(grey16.at(x, y), (2 * 257 * sum8 + 6) / 12) << x << ", " << y;
      ASSERT_EQ(grey8.at(x, y), (2 * sum8 + 6) / 12) << x << ", " << y;
    }
  }
}

TEST_F(FormatsCli, ProbeDescribesEveryFormat) {
  simulate("bmps", "bmp", 2);
  simulate("pngs", "png", 2);
  simulate("tifs", "tif", 2);
  simulate("stack", "tif-stack", 3);
  simulate("dicom", "dcm", 3);
  const CliRun run = cli({"probe", "bmps/frame_000.bmp", "pngs/frame_000.png", "tifs/frame_001.tif", "stack/series.tif",
                          "dicom/series.dcm"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "bmps/frame_000.bmp: 96 x 80\n"
            "pngs/frame_000.png: PNG, 1 frame of 96 x 80, 8 bits per sample, no pixel spacing\n"
            "tifs/frame_001.tif: TIFF, 1 frame of 96 x 80, 8 bits per sample, no pixel spacing\n"
            "stack/series.tif: TIFF, 3 frames of 96 x 80, 8 bits per sample, no pixel spacing\n"
            "dicom/series.dcm: DICOM, 3 frames of 96 x 80, 8 bits per sample, modality OPT, no pixel spacing\n");

  // A DICOM file's pixel spacing is kept in the TIFF and PNG pictures.
  velIPL::DicomWriter spaced({0.0117, 0.0039, velIPL::DicomCompression::none});
  const std::string simulated = at("dicom/series.dcm");
  const std::unique_ptr<velIPL::ImageFile> plain = velIPL::decoderFor(simulated).open(simulated);
  for (int i = 0; i < plain->info().frames; ++i) {
    velIPL::GImage frame;
    plain->readFrame(i, frame);
    spaced.addFrame(frame);
  }
  spaced.writeFile(at("spaced.dcm"));
  ASSERT_EQ(cli({"merge", "-q", "spaced.dcm", "-o", "colour.tif", "--grey", "grey.png"}).status, 0);
  const CliRun kept = cli({"probe", "colour.tif", "grey.png"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out,
            "colour.tif: TIFF, 1 frame of 96 x 80, 8 bits per sample, colour, pixel spacing 0.0117 x 0.0039 mm\n"
            "grey.png: PNG, 1 frame of 96 x 80, 8 bits per sample, pixel spacing 0.0117 x 0.0039 mm\n");
}

TEST_F(FormatsCli, EarlierPicturesStayOutOfFolderMergesUnlessNamed) {
  simulate("sc", "png");
  ASSERT_EQ(cli({"merge", "-q", "sc", "-o", "first.bmp"}).status, 0);
  CliRun run = cli({"merge", "-q", "sc", "-o", "sc/merged.png", "--grey", "sc/merged_grey.png", "--average",
                    "sc/mean.tif"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(cli({"merge", "-q", "sc", "-o", "sc/old.bmp"}).status, 0);
  // The marked PNG and TIFF pictures leave by their mark, the BMP by name.
  run = cli({"merge", "sc", "--exclude", "old*", "-o", "again.bmp"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Merged 6 frames"), std::string::npos) << run.out;
  EXPECT_EQ(readAll(at("again.bmp")), readAll(at("first.bmp")));
  for (const char* note : {"note: left out sc/mean.tif: a picture Lumifold ", "note: left out sc/merged.png: a picture",
                           "note: left out sc/merged_grey.png: a picture", "note: left out sc/old.bmp: matches --exclude old*"}) {
    EXPECT_NE(run.err.find(note), std::string::npos) << note << " in\n" << run.err;
  }
  // Named on the command line, a picture is a frame; the float average never.
  run = cli({"merge", "-q", "sc/frame_000.png", "sc/merged_grey.png", "-o", "named.bmp"});
  EXPECT_EQ(run.status, 0) << run.err;
  run = cli({"merge", "sc/mean.tif", "-o", "mean.bmp"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "lumifold-cli: sc/mean.tif: Not a valid image file: Unsupported TIFF: floating-point samples; an "
                     "average is a result, not a frame to merge\n");
  run = cli({"probe", "sc/mean.tif"});
  EXPECT_EQ(run.out, "sc/mean.tif: TIFF, 1 frame of 96 x 80, 32-bit floating-point values (an average, not a frame to "
                     "merge), no pixel spacing\n");
  // A folder of nothing but pictures is said to be so.
  ASSERT_EQ(cli({"merge", "-q", "sc", "-o", "out_only.png"}).status, 0);
  std::filesystem::create_directory(at("pictures"));
  std::filesystem::rename(at("out_only.png"), at("pictures/out_only.png"));
  run = cli({"merge", "pictures", "-o", "none.bmp"});
  EXPECT_EQ(run.err, "lumifold-cli: pictures: No image files in folder (1 left out as this program's pictures or by "
                     "--exclude)\n");
}
