#pragma once

#include "host/base/Memory.h"
#include "host/core/CoreExport.h"

#include <cstdint>
#include <typeinfo>

namespace orv::General
{

// The process-wide registry of class type ids. One instance lives in OrvCore; every library
// reaches it through GetInstance.
//
// GetTypeId gives a class its int id on the first request and the same id on every later one:
// from 1 upwards on the reference host, from 30011 downwards in steps of 7 on the alternate one
// (see host/base/HostVariant.h); callers must treat an id as an opaque int either way. Classes are
// told apart by their mangled type name, not by the address of their std::type_info: two shared
// libraries built with hidden visibility may each hold their own type_info object for one class and
// must still get one id. Thread-safe. The instance is never destroyed, so static destructors of any
// library may still ask it.
class ORV_CORE_API IFactory
{
public:
    static IFactory& GetInstance();

    virtual ~IFactory();

    virtual int GetTypeId(const std::type_info& type) = 0;
    // How often GetTypeId has been asked about `type` (0 if never). For tests.
    virtual uint64_t GetRequestCount(const std::type_info& type) const = 0;

protected:
    IFactory() = default;
    IFactory(const IFactory&) = delete;
    IFactory& operator=(const IFactory&) = delete;
};

// Base of host objects the factory knows by type (extra-data classes and the like); they live
// in host memory through AllocatedObject.
class ORV_CORE_API IFactoryProduct : public orv::AllocatedObject
{
public:
    IFactoryProduct();
    virtual ~IFactoryProduct();
};

} // namespace orv::General
