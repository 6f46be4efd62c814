// The fast layer beside the literal one: every fast routine, the literal
// routine whose result it must reproduce exactly, and the test that holds
// the two equal. Merged images are compared value for value between
// installations, so a fast routine is only ever a faster way to the same
// bits; where the two may differ at all (the sign of a zero), the entry says
// why nothing downstream can tell.
//
// Dependencies run one way: files here include the literal headers of
// src/merge for their constants and fallbacks; no literal file includes a
// header from here. Merger (merger.h) chooses between the two; its fast
// loops live in merger_fast.cpp.
//
// Each entry: the fast routine (its header here), the literal routine it
// must equal (its header in src/merge), and the test that holds them equal
// (tests/merge/fast/ unless a path is given).
//
// Merger::correlationFast, Merger::anteriorEdgeFast (merger_fast.cpp)
//   = Merger::correlationStraightforward, Merger::anteriorEdgeStraightforward
//     (merger.cpp)
//   by MergerImplementations.* (tests/merge/merger_implementations_test.cpp):
//     the same image byte for byte, the same failing file after the same
//     progress; the merge fuzz target compares the two on fuzzed files.
// fastRegistrar (frame_registrar_fast.cpp, declared in
// src/merge/frame_registrar.h)
//   = literalRegistrar (frame_registrar.cpp): the same raw, smoothed and
//     final profiles, from the same steps as the two loops above
//   by MergerQuality.MeasuringChangesNothingAndBothImplementationsMeasureAlike
//     (tests/merge/merger_quality_test.cpp): with every quality option on,
//     the same image and the same measures to the bit
// FramePrefetcher::take (frame_prefetcher.h)
//   = reading the frames one after the other, as Merger::load does
//   by MergerImplementations.FailAtTheSameFileAfterTheSameProgress
// ColumnCorrelator::referenceSpectrum (column_correlator.h), built by
// BatchFft::forwardReal (batch_fft.h)
//   = columnSpectra (column_transform.h), fft with the forward twiddles
//   by ColumnCorrelator.ReferenceSpectraEqualColumnSpectra, up to the sign
//     of a zero
// ColumnCorrelator::shifts, with BatchFft::inverse
//   = wrapLag(peakLag(crossCorrelate(R, I, weights, inverse)), M) for each
//     column of columnSpectra (column_transform.h)
//   by ColumnCorrelator.ShiftsEqualStraightforwardColumnByColumn, on 1 to 3
//     threads
// firstLargestLags (column_correlator.h)
//   = peakLag(real(abs(c / (n, 0)))) (column_transform.h)
//   by ColumnCorrelator.FirstLargestLagsFollowExactMagnitudesOnNearTies
// the complex product, quotient and weighting written out in the batches
//   = the std::complex operators crossCorrelate uses
//   by ColumnCorrelator.WrittenOutComplexFormsEqualTheStandardLibrary
// lanes::hypotLanes (lane_hypot.h)
//   = std::hypot, behind abs() of a Complex
//   by LaneHypot.EqualsStdHypotBitForBit; where the C library's hypot is
//     another algorithm, laneHypotIsExact() says no and the engine calls
//     std::hypot itself
// accumulateShifted(accumulator, image, s, pool) (accumulation_fast.h)
//   = accumulateShifted(accumulator, image, s) (accumulation.h)
//   by Accumulation.PooledSumsEqualStraightforwardSums
// averageResult(accumulator, count, pool) (accumulation_fast.h)
//   = averageResult(accumulator, count) (accumulation.h)
//   by Accumulation.PooledAverageEqualsStraightforwardAverage
// anteriorEdges(image, pool) (anterior_edge_fast.h)
//   = anteriorEdges(image) (anterior_edge.h)
//   by AnteriorEdge.PooledProfileEqualsColumnByColumnScan
// correctOutliersInLanes (median_filters_fast.h)
//   = correctOutliers (median_filters.h)
//   by MedianFilters.CorrectOutliersInLanesEqualsOneWindowAtATime, bit for
//     bit
//
// The running median (smoothProfile) has no twin: both loops call the
// literal one. WorkerPool (worker_pool.h) computes nothing itself; its
// tests (WorkerPool.*) show that every task runs once whatever the number
// of threads, so no result depends on the schedule.
#pragma once
