#include "module/module_host.h"

namespace split {

CFHost* moduleHost = nullptr;

}  // namespace split
