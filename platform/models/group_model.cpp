#include "splitmodels/group_model.h"

namespace splitmodels {

GroupModel buildGroupModel(const GroupData&, const ModelSpec&) {
  GroupModel m;
  m.reason = "not implemented";
  return m;
}

}  // namespace splitmodels
