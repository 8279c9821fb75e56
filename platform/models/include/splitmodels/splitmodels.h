// The whole public interface of the model library.
#pragma once

#include "splitmodels/data.h"
#include "splitmodels/data_model.h"
#include "splitmodels/group_model.h"
#include "splitmodels/inference.h"
#include "splitmodels/scorer.h"
#include "splitmodels/split_model.h"
