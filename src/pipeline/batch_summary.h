// summary.csv: one row per series of a batch, as the batch finishes them.
//
// The columns, in order: name, frames (every frame of the inputs),
// frames_used (those averaged: selected by --frames and not dropped),
// algorithm (its --algorithm key), seconds (the series from its first
// check to its last file); when the merge measured frame quality
// (docs/quality.md) the reference's frame number, frames_dropped, and the
// average's SNR, the reference's SNR and the gain in dB, the average's CNR
// and ENL (empty otherwise); status ("done" or "failed") and error ("PATH:
// REASON" of a failed series, empty otherwise); then what decides the
// result, for --resume to tell a result of other options or other inputs:
// options (seriesSettings) and inputs (inputsFingerprint). Fields are
// quoted as csvField quotes them. Reading keys every column by its heading,
// so a summary written before a column was added still reads; a row
// without the options column is taken for options unknown.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace lumifold {

struct MergeOptions;

// A row: each column's text by its heading; absent columns are empty.
using SummaryRow = std::map<std::string, std::string>;

const std::vector<std::string>& summaryColumns();

// The header line and one line per row, in the order given.
std::string summaryCsv(const std::vector<SummaryRow>& rows);

// The rows of the summary at path by series name; none when there is no
// such file. Throws PathError(path, reason) for a file that cannot be read
// or is not a summary (no "name" or "status" column).
std::map<std::string, SummaryRow> readSummary(const std::string& path);

// Every option that decides a series' files, in one canonical text:
// "algorithm=correlation;scale=rainbow;frames=all;order=given;reject=none;
// reference=first;lateral=no;outputs=bmp" (outputs: the pictures' format,
// then grey, average, shifts and report where asked), then "exclude=GLOBS"
// where given. Threads, progress and the output folder are left out: they
// change no byte.
std::string seriesSettings(const MergeOptions& options);

// The series' input files as the merge lists them (expandInputs with its
// --exclude), each by its name without the folder, its size and its
// modification time in nanoseconds, hashed with 64-bit FNV-1a into 16 hex
// digits: cheap, and a study moved or mounted elsewhere keeps its results.
// "" when the inputs cannot be listed.
std::string inputsFingerprint(const MergeOptions& options);

}  // namespace lumifold
