// Scoring a CSV stream with a bound split model: records are read in
// blocks, scored on several threads and written in input order.
#ifndef SPLITRUN_SCORE_STREAM_H
#define SPLITRUN_SCORE_STREAM_H

#include <cstddef>
#include <ostream>
#include <string>

#include <splitmodels/scorer.h>

#include "csv_stream.h"

namespace splitrun {

// What became of the records.
struct ScoreCounts {
    std::size_t records = 0;
    std::size_t unmatched = 0;    // no segment selected the record
    std::size_t invalid = 0;      // no prediction: a value the model cannot read
    std::size_t unpredicted = 0;  // selected, but an input the model needs is missing
};

// How the scored CSV writes what the input does not hold as it is.
struct ScoreOutput {
    // The token of a missing value, in the input's columns and in the
    // prediction cells without a prediction; a present text equal to it is
    // quoted. "NA" reads back as missing in R and pandas; empty writes
    // missing values as empty fields.
    std::string naOut = "NA";
    // se_fit after the prediction: the standard error of a linear model's
    // prediction; of a glm's on the scale of the prediction (`linkScale`:
    // the linear predictor's); of a logistic model's event probability,
    // with se_fit_link on the log-odds scale; as R's predict gives them.
    bool seFit = false;
    // lower and upper after that: the confidence interval of the mean
    // prediction (a glm's or logistic model's the Wald interval of the
    // linear predictor, mapped through the inverse link unless on the link
    // scale), or a linear model's prediction interval, at `level`.
    enum class Interval { None, Confidence, Prediction } interval = Interval::None;
    double level = 0.95;
    // The model is a glm (SplitScorer::isGeneralized), scored on the link
    // scale when `linkScale`.
    bool generalized = false;
    bool linkScale = false;
    // Per-record diagnostics of the training records instead of the
    // prediction cells: the column of the target in the input (-1: not
    // asked for) and of the prior weights (-1: none). Only records with a
    // prediction, a target and a weight are written, with .fitted, .resid,
    // .hat, .sigma, .cooksd and .std.resid; for a glm or logistic model
    // .fitted is the linear predictor and .resid the deviance residual, and
    // .fitted.response (the mean, a logistic model's event probability) and
    // .resid.pearson follow. A categorical target's text equal to `event`
    // is 1, any other 0.
    int augmentTarget = -1;
    int augmentWeight = -1;
    std::string event = {};
};

// Writes the scored CSV to `out`: the header (the input's columns, then
// predicted_<target> and, for classification, probability_<label> for each
// label), then one line per record of `reader`, in input order, with the
// input's values as read and the prediction cells (then the standard error
// and interval columns `output` asks for); missing values, and the cells of
// a record without a prediction, hold `output.naOut`. The scorer must then
// compute standard errors (SplitScorer::computeStandardErrors).
//
// `scorer` must be bound to reader.header(). Records are scored on
// `threads` threads (1: on the calling thread only); memory stays bounded
// by a few blocks of records per thread, whatever the input's size. When
// threads cannot be started, the ones that did (at least the calling
// thread) do the work. Throws what the reader throws (InputError for
// malformed input); the workers are stopped first, and the blocks read
// before the bad record may have been written.
ScoreCounts scoreStream(CsvStream& reader, const splitmodels::SplitScorer& scorer, std::ostream& out,
                        unsigned threads, const ScoreOutput& output = {});

}  // namespace splitrun

#endif
