#include "portregistry.h"

#include <mutex>
#include <set>

namespace {

std::mutex &registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::set<dev_t> &heldDevices()
{
    static std::set<dev_t> devices;
    return devices;
}

} // namespace

bool PortRegistry::claim(dev_t device)
{
    const std::lock_guard<std::mutex> lock(registryMutex());
    return heldDevices().insert(device).second;
}

void PortRegistry::release(dev_t device)
{
    const std::lock_guard<std::mutex> lock(registryMutex());
    heldDevices().erase(device);
}

bool PortRegistry::isHeld(dev_t device)
{
    const std::lock_guard<std::mutex> lock(registryMutex());
    return heldDevices().count(device) != 0;
}
