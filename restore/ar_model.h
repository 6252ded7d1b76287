// Autoregressive models of audio: a sample as a weighted sum of the ones
// before it plus an error. Fitted from stretches of samples (Burg's method), they predict the music
// (a click is what they cannot predict), and they fill a span of lost samples with the values that
// fit the good samples on both sides best (least-squares AR interpolation).
//
// Plain functions on float samples of one channel; any thread.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace velmar {

// Prediction-error filter a[0..Order] with a[0] = 1: the error at n is
// sum a[k] x[n - k]. All zero but a[0] when the samples are silent (or the
// fit fails), so the error is the signal.
using TArModel = std::vector<double>;

// The room a fit works in: kept by a stream that fits a model a block, so
// that it allocates nothing once it has grown. One fit at a time.
struct TArScratch {
  struct TErrors {
    std::vector<double> Forward, Backward;
  };
  std::vector<TErrors> Errors;
  TArModel Previous;
};

// The model of Order fitted to the samples of Pieces together (Burg's
// method; errors within each piece, so a span to fill can lie between two).
TArModel FitArModel(std::span<const std::span<const float>> Pieces, int Order);
// The same into Model, whose room is used again, working in Scratch (a
// stream's models).
void FitArModel(std::span<const std::span<const float>> Pieces, int Order, TArModel& Model,
                TArScratch& Scratch);

// Replaces x[Start, Start + Length) with the values that minimise the
// model's squared prediction error over every sample whose prediction
// involves them. Needs Order samples before and after the span in x.
void InterpolateSpan(float* x, std::size_t Start, std::size_t Length, const TArModel& Model);

}  // namespace velmar
