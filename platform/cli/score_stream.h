// Scoring a CSV stream with a bound split model: records are read in
// blocks, scored on several threads and written in input order.
#ifndef SPLITRUN_SCORE_STREAM_H
#define SPLITRUN_SCORE_STREAM_H

#include <cstddef>
#include <ostream>

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

// Writes the scored CSV to `out`: the header (the input's columns, then
// predicted_<target> and, for classification, probability_<label> for each
// label), then one line per record of `reader`, in input order, with the
// input's values as read and the prediction cells, empty (unquoted) when
// there is no prediction.
//
// `scorer` must be bound to reader.header(). Records are scored on
// `threads` threads (1: on the calling thread only); memory stays bounded
// by a few blocks of records per thread, whatever the input's size. When
// threads cannot be started, the ones that did (at least the calling
// thread) do the work. Throws what the reader throws (InputError for
// malformed input); the workers are stopped first, and the blocks read
// before the bad record may have been written.
ScoreCounts scoreStream(CsvStream& reader, const splitmodels::SplitScorer& scorer, std::ostream& out,
                        unsigned threads);

}  // namespace splitrun

#endif
