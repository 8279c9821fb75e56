// Arbitrary documents for the scorer's loader: refused with a ScoreError or
// loaded, bound and scored without crash, other exception or stack overflow.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <splitmodels/scorer.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<splitmodels::SplitScorer> scorer;
  try {
    scorer.emplace(splitmodels::SplitScorer::fromPmml(text));
  } catch (const splitmodels::ScoreError&) {
    return 0;
  }
  scorer->bind(scorer->requiredFields());
  const std::size_t width = scorer->requiredFields().size();
  for (const char* value : {static_cast<const char*>(nullptr), "1", "-0", "9007199254740993", "a", "", "2020-02-29",
                            "12:30:00", "1e999"}) {
    const std::vector<std::optional<std::string>> row(width, value ? std::optional<std::string>(value) : std::nullopt);
    const splitmodels::ScoreResult result = scorer->score(row);
    if (!result.selected && !result.predicted.empty()) __builtin_trap();
  }
  return 0;
}
