// The series of a batch: what `lumifold-cli batch` merges, one by one, and
// which of them a shard takes.
//
// A folder's series are its sub-folders (each merged as `merge FOLDER`
// merges it) and its image files (each merged as `merge FILE`: a
// multi-page TIFF or a multi-frame DICOM is one series), named after the
// sub-folder or the file without its extension, in name order. Entries
// starting with a dot, files without an image extension and the batch's
// own output folder are left out, and so are, with the reason, this
// program's own pictures and files matching --exclude (leftOutReason), an
// earlier batch's output folder (it holds summary.csv) and a folder whose
// image files are all left out.
//
// A manifest is a CSV file (name ending in .csv) with a header line naming
// its columns: "name" and "inputs" are required; "algorithm", "scale",
// "frames", "reject" (none, auto), "reference" (first, auto, a frame
// number), "lateral" (yes, no), "denoise" (none, default, a strength),
// "repeats" (a number: the row is a volume of that many repeats per
// position) and "layout" (grouped, interleaved, per-file)
// are optional and, where a row fills
// them, replace the batch's options for that series. Inputs are separated by ';' and taken relative to
// the manifest's folder unless absolute.
//
// Everything throws PathError naming the input and the reason, before any
// series is merged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/input_list.h"

namespace lumifold {

struct BatchSeries {
  std::string name;
  std::vector<std::string> inputs;
  // From a manifest row; empty: the batch's option.
  std::string algorithm;
  std::string scale;
  std::string frames;
  std::string reject;     // none or auto
  std::string reference;  // first, auto or a frame number
  std::string lateral;    // yes or no
  std::string denoise;    // none, default or a strength
  // A volume row: its repeats per position (a positive number; empty for a
  // series) and its layout (grouped, interleaved, per-file).
  std::string repeats;
  std::string layout;
};

// The series of input, a folder or a manifest. outputFolder is left out of
// a folder's entries. Throws PathError for an input that is neither, a
// folder without series ("No series in folder"), a manifest that cannot be
// read, and two series of one name.
std::vector<BatchSeries> listBatchSeries(const std::string& input, const std::string& outputFolder,
                                         const std::vector<std::string>& exclude = {},
                                         std::vector<LeftOutFile>* leftOut = nullptr);

// The manifest's series; relative inputs are taken from the manifest's
// folder.
std::vector<BatchSeries> readManifest(const std::string& path);

// "K/N": shard K of N, K counted from 0 (0 <= K < N), as scheduler array
// indices count.
struct Shard {
  int index = 0;
  int count = 1;
};

// Throws std::invalid_argument with the reason for text that is not K/N.
Shard parseShard(const std::string& text);

// 64-bit FNV-1a of text: the hash of shards and of input fingerprints.
std::uint64_t fnv1a64(const std::string& text);

// The shard a series belongs to among count: its name's 64-bit FNV-1a hash
// modulo count. It depends on the name alone, so every machine, locale and
// listing order agrees, and a series added later moves no other.
int shardOf(const std::string& name, int count);

}  // namespace lumifold
