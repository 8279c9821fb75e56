// Chooses which of a worker StatXML's models supplies the group's summary.
#ifndef SPLIT_ANNOTATE_FIND_SUMMARY_MODEL_H
#define SPLIT_ANNOTATE_FIND_SUMMARY_MODEL_H

#include <cstdint>

#include "cf_cpp_helper.h"

// Sets model to the chosen "PMMLModel" and returns 0, or returns 5 when the
// document has no "PMMLModel" at all. In order of preference: the first
// active model; the first "MiningModel" when it has a predictive summary,
// else the first top-level model of another type, else that "MiningModel";
// the first top-level model.
uint32_t FindSummaryModel(CfCppHelperV1::XMLDocument* document,
                          CfCppHelperV1::XMLElement& model);

#endif
