#include "cli/probe_command.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "pipeline/input_list.h"
#include "ipl/image_decoder.h"

namespace lumifold {

namespace {

// A BMP file as ever: "W x H", " (top-down)" for rows stored from the top.
// Any other: "TIFF, 40 frames of 512 x 496, 16 bits per sample (12
// significant), colour, modality OPT, pixel spacing 0.0117 x 0.0039 mm" (or
// "no pixel spacing" where the file states none).
std::string describe(const velIPL::ImageFileInfo& info) {
  std::ostringstream text;
  if (info.format == "BMP") {
    text << info.width << " x " << info.height << (info.topDown ? " (top-down)" : "");
    return text.str();
  }
  text << info.format << ", " << info.frames << (info.frames == 1 ? " frame of " : " frames of ") << info.width
       << " x " << info.height << ", ";
  if (info.floatingPoint) {
    text << "32-bit floating-point values (an average, not a frame to merge)";
  } else {
    text << info.bitsPerSample << " bits per sample";
  }
  if (info.significantBits != info.bitsPerSample) text << " (" << info.significantBits << " significant)";
  if (info.samplesPerPixel == 3) text << ", colour";
  if (!info.modality.empty()) text << ", modality " << info.modality;
  if (info.pixelSpacingX > 0.0 || info.pixelSpacingY > 0.0) {
    text << ", pixel spacing " << info.pixelSpacingX << " x " << info.pixelSpacingY << " mm";
  } else {
    text << ", no pixel spacing";
  }
  if (info.sliceSpacing > 0.0) {
    text << ", " << info.sliceSpacing << (info.format == "DICOM" ? " mm between frames" : " mm between pages");
  }
  return text.str();
}

}  // namespace

int runProbe(const std::vector<std::string>& files, CliEnvironment& env) {
  int status = kExitOk;
  const auto refuse = [&](const std::string& file, const std::string& reason) {
    env.err() << kProgram << ": " << file << ": " << reason << '\n';
    status = kExitFailed;
  };
  for (const std::string& file : files) {
    const std::string unreadable = unreadableReason(file);
    if (!unreadable.empty()) {
      refuse(file, unreadable);
      continue;
    }
    velIPL::ImageFileInfo info;
    std::string message = "Cannot open file";
    if (!velIPL::inspectImageFile(file, info, message)) {
      refuse(file, message);
      continue;
    }
    env.out() << file << ": " << describe(info) << '\n';
  }
  return status;
}

ProbeCommand::ProbeCommand(CLI::App& app) {
  command_ = app.add_subcommand("probe", "Report each file's width and height, or why it is refused");
  command_->description(
      "Report each file's width and height, or why it is refused. For a PNG, TIFF or\n"
      "DICOM file also its format, frame count, bits per sample and, where the file\n"
      "gives them, modality and pixel spacing.");
  command_->add_option("FILE", files_, "Image files (BMP, PNG, TIFF, DICOM)")->required();
}

bool ProbeCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
