#include "module/component_factory.h"

#include <memory>
#include <new>
#include <string>

#include "collect/split_collect_peer.h"
#include "distribute/split_distribute_peer.h"
#include "module/module_host.h"

namespace split {
namespace {

constexpr const char* kDistributeName = "split_distribute";
constexpr const char* kCollectName = "split_collect";

// Builds the named peer; null for an unknown name or when no memory is left.
QorCF_940::QorPeer* BuildPeer(CFContext* context, const std::string& name) {
    if (name == kDistributeName) return new (std::nothrow) SplitDistributePeer(context, moduleHost);
    if (name == kCollectName) return new (std::nothrow) SplitCollectPeer(context, moduleHost);
    return nullptr;
}

}  // namespace

uint32_t CreateComponent(CFContext* context, const char* name, void** component, int* err) {
    std::unique_ptr<QorCF_940::QorPeer> peer;
    try {
        // A missing name or slot cannot name or receive a component.
        if (name != nullptr && component != nullptr) peer.reset(BuildPeer(context, std::string(name)));
        if (!peer) {
            if (err != nullptr) *err = kErrComponentNotCreated;
            return CF_FAILED;
        }
        *component = peer.release();
        return CF_OK;
    } catch (...) {
        // unique_ptr has destroyed a peer whose construction completed.
        return CF_FAILED;
    }
}

uint32_t DestroyComponent(void* component, int* err) {
    if (component == nullptr) return CF_OK;
    try {
        delete PeerOf(component);
    } catch (...) {
        if (err != nullptr) *err = kErrComponentNotDestroyed;
        return CF_FAILED;
    }
    return CF_OK;
}

}  // namespace split
