#include "host/geometry/ExtraDataRegistry.h"

#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

namespace orv::Data::ExtraData::Details
{

ICloudExtraDataPolicy::~ICloudExtraDataPolicy() = default;

namespace
{

struct Registration
{
    uint64_t token;
    int typeId;
    std::type_index valueType;
    eastl::shared_ptr<ICloudExtraDataPolicy> policy;
};

class Registry
{
public:
    uint64_t NewToken()
    {
        std::unique_lock<std::shared_mutex> lock(m_mutex);
        return ++m_lastToken;
    }

    void Add(uint64_t token, int typeId, const std::type_index& valueType,
             eastl::shared_ptr<ICloudExtraDataPolicy> policy)
    {
        const ICloudExtraDataPolicy* raw = policy.get();
        {
            std::unique_lock<std::shared_mutex> lock(m_mutex);
            m_entries.push_back(Registration{token, typeId, valueType, std::move(policy)});
        }
        Notify(RegistryEvent{RegistryEvent::Kind::Registered, typeId, valueType, raw});
    }

    // Undoes one registration; the policy reference is dropped after the observer ran.
    void Withdraw(uint64_t token)
    {
        eastl::shared_ptr<ICloudExtraDataPolicy> released;
        int typeId = 0;
        std::type_index valueType = typeid(void);
        bool found = false;
        {
            std::unique_lock<std::shared_mutex> lock(m_mutex);
            for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            {
                if (it->token == token)
                {
                    released = std::move(it->policy);
                    typeId = it->typeId;
                    valueType = it->valueType;
                    m_entries.erase(it);
                    found = true;
                    break;
                }
            }
        }
        if (found)
            Notify(
                RegistryEvent{RegistryEvent::Kind::Withdrawn, typeId, valueType, released.get()});
    }

    const ICloudExtraDataPolicy* Find(int typeId, const std::type_index& valueType) const
    {
        std::shared_lock<std::shared_mutex> lock(m_mutex);
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        {
            if (it->typeId == typeId && it->valueType == valueType)
                return it->policy.get();
        }
        return nullptr;
    }

    const ICloudExtraDataPolicy* FindAny(int typeId) const
    {
        std::shared_lock<std::shared_mutex> lock(m_mutex);
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        {
            if (it->typeId == typeId && it->policy)
                return it->policy.get();
        }
        return nullptr;
    }

    size_t Count() const
    {
        std::shared_lock<std::shared_mutex> lock(m_mutex);
        return m_entries.size();
    }

    void SetObserver(std::function<void(const RegistryEvent&)> observer)
    {
        std::unique_lock<std::shared_mutex> lock(m_mutex);
        m_observer = std::move(observer);
    }

private:
    void Notify(const RegistryEvent& event)
    {
        std::function<void(const RegistryEvent&)> observer;
        {
            std::shared_lock<std::shared_mutex> lock(m_mutex);
            observer = m_observer;
        }
        if (observer)
            observer(event);
    }

    mutable std::shared_mutex m_mutex;
    std::vector<Registration> m_entries;
    uint64_t m_lastToken = 0;
    std::function<void(const RegistryEvent&)> m_observer;
};

// Never destroyed: registrations of other libraries are withdrawn from their own exit lists,
// which may run after this library's static objects would be gone.
Registry& TheRegistry()
{
    static Registry* registry = new Registry();
    return *registry;
}

} // namespace

ExtraDataRegisterScope::ExtraDataRegisterScope() noexcept = default;

ExtraDataRegisterScope::ExtraDataRegisterScope(eastl::function<void()> cb) noexcept
    : callback(std::move(cb))
{
}

ExtraDataRegisterScope::ExtraDataRegisterScope(ExtraDataRegisterScope&& other) noexcept
    : callback(std::move(other.callback))
{
}

ExtraDataRegisterScope& ExtraDataRegisterScope::operator=(ExtraDataRegisterScope&& other) noexcept
{
    if (this != &other)
    {
        Release();
        callback = std::move(other.callback);
    }
    return *this;
}

ExtraDataRegisterScope::~ExtraDataRegisterScope()
{
    Release();
}

void ExtraDataRegisterScope::Release() noexcept
{
    // Take the callback out first: it is destroyed on every path, also when it throws.
    eastl::function<void()> cb(std::move(callback));
    if (cb)
    {
        try
        {
            cb();
        }
        catch (...)
        {
            // A withdrawal cannot report failure from a destructor; the callback still goes.
        }
    }
}

ExtraDataRegisterScope
RegisterCloudExtraDataConversionPolicy(int typeId, const std::type_index& valueType,
                                       eastl::shared_ptr<ICloudExtraDataPolicy> policy)
{
    Registry& registry = TheRegistry();
    // The undo callback exists before the registration does: if making it fails, nothing is
    // registered; if registering fails, the callback is dropped without being invoked.
    const uint64_t token = registry.NewToken();
    eastl::function<void()> undo([token]() { TheRegistry().Withdraw(token); });
    registry.Add(token, typeId, valueType, std::move(policy));
    return ExtraDataRegisterScope(std::move(undo));
}

const ICloudExtraDataPolicy* GetCloudExtraDataConversionPolicy(int typeId,
                                                               const std::type_index& valueType)
{
    return TheRegistry().Find(typeId, valueType);
}

const ICloudExtraDataPolicy* FindAnyCloudExtraDataPolicy(int typeId)
{
    return TheRegistry().FindAny(typeId);
}

size_t GetRegisteredPolicyCount()
{
    return TheRegistry().Count();
}

void SetRegistryObserver(std::function<void(const RegistryEvent&)> observer)
{
    TheRegistry().SetObserver(std::move(observer));
}

} // namespace orv::Data::ExtraData::Details
