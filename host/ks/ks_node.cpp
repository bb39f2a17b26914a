#include "host/ks/ks_node.h"

#include <mutex>
#include <unordered_map>

namespace bayercam::host::ks {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, KsNode*> nodes;  // guarded by mutex
};

Registry& registry() noexcept {
    static Registry instance;
    return instance;
}

}  // namespace

void registerNode(const void* address, KsNode* node) noexcept {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.nodes[address] = node;
}

void unregisterNode(const void* address) noexcept {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.nodes.erase(address);
}

KsNode* findNode(const void* address) noexcept {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.nodes.find(address);
    return it == r.nodes.end() ? nullptr : it->second;
}

}  // namespace bayercam::host::ks
