#include <algorithm>

#include "group_writers.h"
#include "pmml_names.h"
#include "value_text.h"

namespace splitmodels::detail {

namespace {

// One target value: its text form for strings, its number otherwise.
struct ClassKey {
  std::string_view text;
  double number = 0.0;
};

}  // namespace

std::optional<std::string> binaryTarget(const FieldDef& target, const ModelSpec& request, const Design& design,
                                        TargetClasses& classes, Eigen::VectorXd& y) {
  const bool isString = target.storage == StorageString;
  const auto sameKey = [&](const ClassKey& a, const ClassKey& b) {
    return isString ? a.text == b.text : a.number == b.number;
  };
  const auto keyOf = [&](std::size_t row) {
    const FieldColumn& values = design.target;
    return ClassKey{isString ? values.texts[row] : std::string_view(), isString ? 0.0 : values.numbers[row]};
  };

  std::vector<ClassKey> keys;
  for (std::size_t row : design.rows) {
    const ClassKey key = keyOf(row);
    if (std::none_of(keys.begin(), keys.end(), [&](const ClassKey& k) { return sameKey(k, key); }))
      keys.push_back(key);
    if (keys.size() > 2) break;
  }
  const auto label = [&](const ClassKey& key) {
    return isString ? std::string(key.text) : pmmlCategory(target, formatNumber(key.number));
  };
  if (keys.empty()) return std::string("too few records: 0 records");
  if (keys.size() == 1)
    return "single class: every record has " + request.target + " = " + label(keys.front());
  if (keys.size() > 2) return "more than two classes: " + request.target + " takes more than two values";
  std::sort(keys.begin(), keys.end(), [&](const ClassKey& a, const ClassKey& b) {
    return isString ? a.text < b.text : a.number < b.number;
  });

  std::size_t event = 1;
  if (!request.event.empty()) {
    const std::optional<double> eventNumber = numberForStorage(target.storage, request.event);
    const auto matches = [&](const ClassKey& key) {
      return isString ? key.text == request.event : eventNumber.has_value() && *eventNumber == key.number;
    };
    if (matches(keys[0]))
      event = 0;
    else if (!matches(keys[1]))
      return "event not found: " + request.event + " is not a value of " + request.target + " in this group";
  }
  classes.event = label(keys[event]);
  classes.other = label(keys[1 - event]);
  classes.eventIsFirst = event == 0;
  y.resize(static_cast<Eigen::Index>(design.rows.size()));
  for (std::size_t i = 0; i < design.rows.size(); ++i)
    y(static_cast<Eigen::Index>(i)) = sameKey(keyOf(design.rows[i]), keys[event]) ? 1.0 : 0.0;
  return std::nullopt;
}

}  // namespace splitmodels::detail
