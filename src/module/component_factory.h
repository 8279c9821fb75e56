// Creating and destroying components by name.
#ifndef SPLIT_MODULE_COMPONENT_FACTORY_H
#define SPLIT_MODULE_COMPONENT_FACTORY_H

#include <cstdint>

#include "cf_records.h"
#include "qor_peer.h"

namespace split {

// Error numbers written into the caller's error slot by the factory.
constexpr int kErrComponentNotCreated = 240001;
constexpr int kErrComponentNotDestroyed = 240003;

// Builds the peer named exactly "split_distribute" or "split_collect" on the
// context and the module host, and stores it in *component. Any other name,
// or no object built: status 1, err 240001, *component untouched. Anything
// thrown: status 1, err untouched.
uint32_t CreateComponent(CFContext* context, const char* name, void** component, int* err);

// Destroys a peer made by CreateComponent; a null component is a no-op.
// Anything thrown: status 1 and err 240003.
uint32_t DestroyComponent(void* component, int* err);

// The peer behind a component handle (null for a null handle).
inline QorCF_940::QorPeer* PeerOf(void* component) {
    return static_cast<QorCF_940::QorPeer*>(component);
}

}  // namespace split

#endif
