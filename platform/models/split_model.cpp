#include <stdexcept>

#include "splitmodels/split_model.h"

namespace splitmodels {

std::string buildSplitModelPmml(const SplitModelInput&) {
  throw std::invalid_argument("not implemented");
}

}  // namespace splitmodels
