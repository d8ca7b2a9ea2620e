#pragma once

#include "host/core/TableCluster.h"
#include "host/eastl/function.h"
#include "host/eastl/shared_ptr.h"
#include "host/eastl/string.h"
#include "host/geometry/Algebra.h"
#include "host/geometry/GeometryExport.h"

#include <cstdint>
#include <functional>
#include <typeindex>

namespace orv::Data::Cloud
{
class CloudCursorInfo;
}

// The host's extra-data registry: for each pair (extra-data type id, value type) at most one
// live policy is found. A policy is a stateless handler that knows how to create, clear,
// compare and rotate the stored elements of one kind of extra data, and how to convert one
// element to and from a value type. Policies are shared with the registry through the host's
// shared pointer; the registry holds its reference until the registration is withdrawn.
//
// Registering the same pair twice shadows the first registration until the second is
// withdrawn; withdrawing works per registration, in any order.
//
// Threads: every function here may be called from several threads at once. A pointer
// returned by a look-up stays valid until its registration is withdrawn (and the registrant
// drops its own references); callers keep look-ups and withdrawal of the same registration
// apart.

namespace orv::Data::ExtraData::Details
{

class ORV_GEOMETRY_API ICloudExtraDataPolicy
{
public:
    virtual ~ICloudExtraDataPolicy();
    virtual bool GetTypeFlagA() const = 0;
    virtual int GetTypeValueA() const = 0;
    virtual int GetTypeValueB() const = 0;
    virtual const eastl::basic_string<char>& GetTypeName() const = 0;
    virtual unsigned int GetElementSize() const = 0;
    virtual void TransformElement(void* element,
                                  const orv::Math::Algebra::Matrix3x3& rotation) const = 0;
    virtual bool GetTypeFlagB() const = 0;
    virtual bool GetTypeFlagC() const = 0;
    virtual void* SetElement(orv::Collection::TableCluster& table, uint32_t index,
                             const void* value) const = 0;
    virtual void* AddElement(orv::Collection::TableCluster& table, const void* value) const = 0;
    virtual void* AddDefaultElement(orv::Collection::TableCluster& table) const = 0;
    virtual void* ResetElement(orv::Collection::TableCluster& table, uint32_t index) const = 0;
    virtual void* InitElement(orv::Collection::TableCluster& table, uint32_t index,
                              const void* value) const = 0;
    virtual void ResetAllElements(orv::Collection::TableCluster& table) const = 0;
    virtual void VisitAllElements(orv::Collection::TableCluster& table) const = 0;
    virtual const void* GetElement(const orv::Collection::TableCluster& table,
                                   uint32_t index) const = 0;
    virtual bool AreEqual(const void* a, const void* b) const = 0;
};

template <class T>
class ORV_GEOMETRY_API ICloudExtraDataConversionPolicy : public ICloudExtraDataPolicy
{
public:
    virtual T GetValue(const void* element,
                       const orv::Data::Cloud::CloudCursorInfo& info) const = 0;
    virtual void SetValue(void* element, const T& value,
                          const orv::Data::Cloud::CloudCursorInfo& info) const = 0;
};

// Holds the callback that undoes one registration. Destroying the scope (or Release) invokes
// the callback once, if set, then destroys it; an exception thrown by the callback is
// swallowed (a destructor cannot report it), and the callback object is destroyed all the
// same. Movable, not copyable: exactly one scope owns a registration. Move assignment first
// releases the registration the target held.
class ORV_GEOMETRY_API ExtraDataRegisterScope
{
public:
    ExtraDataRegisterScope() noexcept;
    explicit ExtraDataRegisterScope(eastl::function<void()> cb) noexcept;
    ExtraDataRegisterScope(ExtraDataRegisterScope&& other) noexcept;
    ExtraDataRegisterScope& operator=(ExtraDataRegisterScope&& other) noexcept;
    ExtraDataRegisterScope(const ExtraDataRegisterScope&) = delete;
    ExtraDataRegisterScope& operator=(const ExtraDataRegisterScope&) = delete;
    ~ExtraDataRegisterScope();

    // Invokes and destroys the callback now; the scope is empty afterwards.
    void Release() noexcept;

    eastl::function<void()> callback;
};

// Registers `policy` for (typeId, valueType). An empty pointer is registered too (look-ups of
// the pair then give null). Throws std::bad_alloc when memory is short; nothing is registered
// then.
ORV_GEOMETRY_API ExtraDataRegisterScope RegisterCloudExtraDataConversionPolicy(
    int typeId, const std::type_index& valueType, eastl::shared_ptr<ICloudExtraDataPolicy> policy);

// The live policy of the pair (the most recent registration), or null.
ORV_GEOMETRY_API const ICloudExtraDataPolicy*
GetCloudExtraDataConversionPolicy(int typeId, const std::type_index& valueType);

// The most recently registered live, non-null policy of the type id, whatever its value type,
// or null. The host uses it for what is independent of the value type (element size,
// rotation of stored elements).
ORV_GEOMETRY_API const ICloudExtraDataPolicy* FindAnyCloudExtraDataPolicy(int typeId);

// Number of live registrations (all pairs).
ORV_GEOMETRY_API size_t GetRegisteredPolicyCount();

// What the observer sees: every registration and withdrawal, in order, after it took effect.
// `policy` is valid during the notification.
struct RegistryEvent
{
    enum class Kind
    {
        Registered,
        Withdrawn
    };
    Kind kind;
    int typeId;
    std::type_index valueType;
    const ICloudExtraDataPolicy* policy;
};

// Installs the observer (an empty function removes it). The observer runs on the thread that
// registers or withdraws, outside the registry's lock, so it may look policies up itself.
ORV_GEOMETRY_API void SetRegistryObserver(std::function<void(const RegistryEvent&)> observer);

} // namespace orv::Data::ExtraData::Details
