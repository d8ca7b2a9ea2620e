#include "host/core/Factory.h"

#include "host/base/HostVariant.h"

#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace orv::General
{

namespace
{

class Factory final : public IFactory
{
public:
    int GetTypeId(const std::type_info& type) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Entry& entry = m_entries[type.name()];
        if (entry.id == 0)
        {
            entry.id = m_nextId;
            m_nextId += m_step;
        }
        ++entry.requests;
        return entry.id;
    }

    uint64_t GetRequestCount(const std::type_info& type) const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_entries.find(type.name());
        return found == m_entries.end() ? 0 : found->second.requests;
    }

private:
    struct Entry
    {
        int id = 0;
        uint64_t requests = 0;
    };

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    // The reference host counts ids up from 1; the alternate host counts down from 30011 in
    // steps of 7, so neither the start nor the order of the first twelve is the classes' table
    // order. Fixed when the factory is built (when the host libraries load).
    int m_nextId = IsAlternateHost() ? 30011 : 1;
    int m_step = IsAlternateHost() ? -7 : 1;
};

} // namespace

IFactory& IFactory::GetInstance()
{
    // Built in static storage on first use and never destroyed: other libraries' static
    // destructors may still run after this library's.
    alignas(Factory) static unsigned char storage[sizeof(Factory)];
    static Factory* const instance = ::new (static_cast<void*>(storage)) Factory();
    return *instance;
}

IFactory::~IFactory() = default;

IFactoryProduct::IFactoryProduct() = default;
IFactoryProduct::~IFactoryProduct() = default;

} // namespace orv::General
