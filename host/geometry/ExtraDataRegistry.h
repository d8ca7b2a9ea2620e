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

// The type-erased half of a policy: what the host does with the stored elements of one kind
// of extra data, whatever value type the policy converts to. The order of the operations is
// the host's interface (slots of the virtual table); never reorder them.
//
// An `element` is the address of one stored element (GetElementSize bytes) inside a host
// table; a `table` is the host's TableCluster of those elements for one subset of a cloud;
// an `index` is an element's position in it. No operation checks its arguments: index
// validity is the table's affair (GetElm gives null past the end).
//
// The flag and value slots are constant traits of the kind of extra data that the host reads
// for its own purposes; the interface fixes the constants each policy returns, not what the
// host makes of them. This reference host reads none of them. It calls GetElementSize (widths of
// types it does not know itself) and TransformElement (appending a cloud with another rotation);
// the adapter's cursors call GetValue. The element operations are there for a host that edits its
// tables through policies.
class ORV_GEOMETRY_API ICloudExtraDataPolicy
{
public:
    virtual ~ICloudExtraDataPolicy();
    // A constant trait of the kind of extra data, read by the host (true for classification
    // and max probability among the library's policies).
    virtual bool GetTypeFlagA() const = 0;
    // Two constant integer traits, read by the host (0 for every policy of the library).
    virtual int GetTypeValueA() const = 0;
    virtual int GetTypeValueB() const = 0;
    // The name of the kind of extra data: the host's plain class's GetStaticType() (e.g.
    // "ClassificationExtraData"); the same string object for the life of the process.
    virtual const eastl::basic_string<char>& GetTypeName() const = 0;
    // Bytes per stored element: 1, 2 or 4. How much the host copies per point.
    virtual unsigned int GetElementSize() const = 0;
    // Rotates one stored element in place by `rotation`, for a point moved into a frame
    // whose linear part differs; does nothing for data without a direction (only normals
    // rotate).
    virtual void TransformElement(void* element,
                                  const orv::Math::Algebra::Matrix3x3& rotation) const = 0;
    // Two more constant traits, read by the host (false for every policy of the library).
    virtual bool GetTypeFlagB() const = 0;
    virtual bool GetTypeFlagC() const = 0;
    // Copies the stored value at `value` into element `index`; returns that element.
    virtual void* SetElement(orv::Collection::TableCluster& table, uint32_t index,
                             const void* value) const = 0;
    // Appends one element (TableCluster::New(false)) holding the stored value at `value`;
    // returns it.
    virtual void* AddElement(orv::Collection::TableCluster& table, const void* value) const = 0;
    // Appends one element for a point without a value and returns it. Whether it is written
    // (zero) or left as the table hands it out is the policy's (the library's normal and
    // intensity policies zero it, its scalar ones do not), so never rely on its content.
    virtual void* AddDefaultElement(orv::Collection::TableCluster& table) const = 0;
    // Writes zero (all bits clear) into element `index`; returns it.
    virtual void* ResetElement(orv::Collection::TableCluster& table, uint32_t index) const = 0;
    // Gives element `index` its first value; the same effect as SetElement.
    virtual void* InitElement(orv::Collection::TableCluster& table, uint32_t index,
                              const void* value) const = 0;
    // Writes zero into every element present when the call starts.
    virtual void ResetAllElements(orv::Collection::TableCluster& table) const = 0;
    // Walks every element present when the call starts, changing nothing (a hook for
    // policies whose elements need a visit; none of the library's does).
    virtual void VisitAllElements(orv::Collection::TableCluster& table) const = 0;
    // The address of element `index` (TableCluster::GetElm).
    virtual const void* GetElement(const orv::Collection::TableCluster& table,
                                   uint32_t index) const = 0;
    // Whether two stored elements hold the same value: bit for bit, except floats, which
    // compare as numbers (+0 equals -0, a NaN equals nothing).
    virtual bool AreEqual(const void* a, const void* b) const = 0;
};

// The conversion half: one stored element to and from a value of type T, the value type of
// one contract component (double for Real, uint64_t for UnsignedInteger, int64_t for
// SignedInteger, GVector3 for Vector3, ColorValue for Color). `info` is the cursor reading the
// point: its frame (normals rotate with it) and its cloud (intensities follow its colour mode
// and range). A pair (type id, T) without a registered policy cannot be read as T.
template <class T>
class ORV_GEOMETRY_API ICloudExtraDataConversionPolicy : public ICloudExtraDataPolicy
{
public:
    // The stored element at `element` as a T, in the cursor's frame.
    virtual T GetValue(const void* element,
                       const orv::Data::Cloud::CloudCursorInfo& info) const = 0;
    // Stores `value` into the element at `element`, back in the cloud's own form.
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
