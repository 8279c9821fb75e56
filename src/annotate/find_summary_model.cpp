#include "annotate/find_summary_model.h"

#include <string>

using CfCppHelperV1::XMLElement;
using CfCppHelperV1::XMLElementIterator;
using CfCppHelperV1::XMLException;

namespace {

const char* const kMiningModel = "MiningModel";

// A "MiningModel" without a summary of its own defers to the first top-level
// model of another type, when there is one.
XMLElement ModelForMiningModel(const XMLElement& root, const XMLElement& miningModel) {
    if (miningModel.getElementsDirect("PredictiveSummary").hasMore()) return miningModel;
    XMLElementIterator models = root.getElementsDirect("PMMLModel");
    while (models.hasMore()) {
        XMLElement candidate = models.next();
        if (candidate.getAttribute("modelType") != kMiningModel) return candidate;
    }
    return miningModel;
}

}  // namespace

uint32_t FindSummaryModel(CfCppHelperV1::XMLDocument* document, XMLElement& model) {
    if (document == nullptr || document->isEmpty()) return CF_BAD_XML;
    const XMLElement& root = *document;
    try {
        model = root.getElementByAttribute("PMMLModel", "isActive",
                                           CfCppHelperV1::XMLEntities::True);
        return CF_OK;
    } catch (const XMLException&) {
    }
    try {
        XMLElement miningModel = root.getElementByAttribute("PMMLModel", "modelType", kMiningModel);
        model = ModelForMiningModel(root, miningModel);
        return CF_OK;
    } catch (const XMLException&) {
    }
    XMLElementIterator models = root.getElementsDirect("PMMLModel");
    if (!models.hasMore()) return CF_BAD_XML;
    model = models.next();
    return CF_OK;
}
