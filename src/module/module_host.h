// The one module-wide host handle, stored by cf_initialise and handed to
// every peer and document the module makes.
#ifndef SPLIT_MODULE_MODULE_HOST_H
#define SPLIT_MODULE_MODULE_HOST_H

#include "cf_records.h"

namespace split {

// Null until cf_initialise stores a host; nothing clears it afterwards.
extern CFHost* moduleHost;

}  // namespace split

#endif
