#pragma once

#include "builder/PointCloudDataBuilder.h"
#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"

#include <cstdint>
#include <memory>

namespace orv::Data::Cloud
{

// Configuration of the builders that write new host clouds: which extra data they carry,
// under which host extra-data type, and at which storage width (see StorageWidthTable).
//
// Holds no host object. Every builder it creates starts from a snapshot of both tables;
// later changes to the factory do not reach builders already created. Copies are deep and
// independent; a moved-from factory is empty and usable.
//
// ClearComponentMapping clears the mapping alone: the widths of keys no longer mapped stay
// behind, are never read, and are replaced when the key is handed out again.
//
// Intensities: a Real key on the host's own intensity type (CloudIntensityExtraData) is written
// as a plain float, never into that type: its 4 bytes mean what the cloud's colour mode says (a
// float in mode 1, a code compressed into the cloud's range in mode 3), and a new cloud has
// whatever mode its host gives it, so floats written there could read back as other numbers
// (0.25 as 0.00073 in mode 3). Every builder writes such a key under CloudIntensityNewExtraData,
// or under CloudIntensityTempExtraData when another key of the configuration already writes the
// first; the key itself is unchanged, the provider from the builder's GetResult maps it to the
// type written, and the values read back are the floats given (width 4). This holds however the
// key was mapped: with either MapOptionalComponent, from a provider's mapping (`like` below) or
// by changing `mapping` directly. The factory's own `mapping` keeps the type asked for. When
// both plain float types are written by other keys, MapOptionalComponent and the constructor
// from a mapping throw std::invalid_argument naming the key (and change nothing), as does
// CreatePointDataBuilder after direct changes.
//
// New clouds and positions: builders from this class start every cloud from a default host
// cloud and refuse a point whose position the host would store coarser than 1 mm (see
// PointCloudDataBuilder). PrototypedBuilderFactory, below, gives them a prototype cloud (with a
// frame near the data, for one) and another tolerance.
//
// Threads: one thread at a time; CreatePointDataBuilder only reads, so several threads may
// create builders from a factory that no thread is changing.
// Throws: std::bad_alloc; MapOptionalComponent std::invalid_argument (the width rule below, and
// an intensity key no plain float type is left for) and whatever ComponentMapping::Map throws;
// CreatePointDataBuilder std::invalid_argument when the configuration breaks either rule (only
// after the public members were changed directly, or when a host type's element size became
// known since it was mapped).
class ORV_DATAPROXY_API PointCloudDataBuilderFactory
    : public orv::DataProxy::IPointDataBuilderFactory
{
public:
    using ComponentKey = orv::DataProxy::PointDataComponents::ComponentKey;
    using EPointDataComponent = orv::DataProxy::EPointDataComponent;

    ComponentMapping mapping;
    StorageWidthTable storageWidthByKey;

    PointCloudDataBuilderFactory();
    // Writes new clouds like a cloud read with `like` (a provider's GetMapping(), for
    // instance): the same keys with the same indices and host types, each at its host type's
    // own width (see MapOptionalComponent without a width), so a point read through a cursor
    // over that provider is written back with every value it carries. Later MapOptionalComponent
    // calls go on from `like`'s next indices.
    //
    // Throws std::invalid_argument, naming the type, when a key of Vector3, an integer
    // component or Real has a host type whose element size the library does not know (give
    // such keys their width with MapOptionalComponent), or when a key breaks the width rule
    // (Real on a 1-byte type, Color on a type that does not hold a colour value), or when an
    // intensity key cannot be written (see "Intensities" above).
    explicit PointCloudDataBuilderFactory(const ComponentMapping& like);
    PointCloudDataBuilderFactory(const PointCloudDataBuilderFactory& other);
    PointCloudDataBuilderFactory(PointCloudDataBuilderFactory&& other) noexcept;
    ~PointCloudDataBuilderFactory() override;
    PointCloudDataBuilderFactory& operator=(const PointCloudDataBuilderFactory& other);
    PointCloudDataBuilderFactory& operator=(PointCloudDataBuilderFactory&& other) noexcept;

    // Maps one more value of `component` to the host type `extraDataType`, records `width`
    // under the new key and returns the key.
    //
    // The width rule: nothing a builder stores may read back as a value that was never given.
    // So the call throws std::invalid_argument, and changes nothing (no index is used up), for
    //   - a width the component cannot be stored at: Vector3 24 (three doubles) or 4 (one
    //     packed 32-bit vector); UnsignedInteger and SignedInteger 8, 4, 2 or 1 (the value's
    //     low-order bytes, no range check: 300 at width 1 stores 44); Real 8 (double) or 4
    //     (float, rounded to nearest);
    //   - a width that differs from the element size of the host type, when the library knows
    //     it: the twelve extra-data classes whose policies it registers, or any type for which
    //     the host registry holds a policy of one of the contract's five value types (Real 8 on
    //     a 32-bit float type, Vector3 24 on the packed-normal type, UnsignedInteger 4 on a
    //     1-byte type are refused);
    //   - a Color key whose host type is known and does not hold a host colour value (4 bytes).
    //   - a Real key on the host's intensity type when no plain float type is left for it (see
    //     "Intensities" above; otherwise it is written as a float at width 4).
    // Color ignores `width` otherwise: a colour is always stored as a host colour value.
    // Position, PointIndex and components 7 and above ignore it too: builders skip such keys.
    // A type the library does not know takes any width its component can be stored at; the
    // host decides whether it stores that type at all.
    ComponentKey MapOptionalComponent(EPointDataComponent component, int extraDataType,
                                      std::uint64_t width);

    // As above, at the host type's own width: the element size of one of the twelve
    // extra-data classes (classification 1, classification instance and split colour 2, the
    // other integer types 4, the float types 4, the packed normal 4), or of a type the host
    // registry holds a policy for. Color needs no width (a colour is always a host colour
    // value), nor do Position, PointIndex and components 7 and above. Throws
    // std::invalid_argument, and changes nothing, when the component needs a width and the
    // library knows none for the type (give it with the overload above), and as above when
    // the type's width does not suit the component (Real on the 1-byte classification).
    ComponentKey MapOptionalComponent(EPointDataComponent component, int extraDataType);

    // Every component's indices start again at 0; the width table is left as it is.
    void ClearComponentMapping();

    // A new builder over a snapshot of this configuration; `consumer` is borrowed by it.
    std::shared_ptr<orv::DataProxy::IPointDataBuilder>
    CreatePointDataBuilder(const orv::DataProxy::IPointDataConsumer& consumer) const override;
};

// A builder factory that also says how new clouds start and how exactly their positions must
// be kept (NewCloudSettings): every builder it creates copies `Settings()` with the rest of the
// configuration. Header-only: a PointCloudDataBuilderFactory (a client may hand it out as one, or
// as an IPointDataBuilderFactory) whose exported layout stays as it is; the settings live in
// this class alone.
//
// Typical use, reading data in projected coordinates (the real host and our hosts alike: the
// caller prepares the prototype with its host's own means):
//
//     PointCloud prototype;                           // empty
//     prototype.Convert().SetMatrix(Translation(x0, y0, z0)); // a frame at the data (our hosts)
//     PrototypedBuilderFactory factory(prototype);
//     factory.MapOptionalComponent(...);              // as on PointCloudDataBuilderFactory
//     auto builder = factory.CreatePointDataBuilder(consumer);
//
// Without a prototype (or with one whose frame the host still moves to the first point), a host
// that keeps the identity frame stores projected coordinates coarsely, and builders refuse such
// points with std::range_error (see PointCloudDataBuilder).
//
// Copies and moves as the base (a moved-from factory's prototype is a default cloud, its
// tolerance kept). Threads as the base.
class PrototypedBuilderFactory : public PointCloudDataBuilderFactory
{
public:
    PrototypedBuilderFactory() = default;
    // Throw std::invalid_argument when SetPrototype refuses the prototype; the second also as
    // the base's constructor from a mapping.
    explicit PrototypedBuilderFactory(const PointCloud& prototype) { SetPrototype(prototype); }
    PrototypedBuilderFactory(const ComponentMapping& like, const PointCloud& prototype)
        : PointCloudDataBuilderFactory(like)
    {
        SetPrototype(prototype);
    }

    // Every cloud of the builders created from now on starts as a copy of `prototype` (the
    // host's copy constructor): its frame, colour mode and subset size, whatever the host
    // copies. Throws std::invalid_argument, and changes nothing, when it holds points or its
    // frame is more than a translation.
    void SetPrototype(const PointCloud& prototype)
    {
        NewCloudSettings next{prototype, settings.positionTolerance};
        PointCloudDataBuilder::CheckSettings(next);
        settings = std::move(next);
    }

    // The largest difference, in any world coordinate, between a position given to a builder
    // and the one its host stores (1 mm, NewCloudSettings::kDefaultPositionTolerance, unless
    // set): 0 asks for exact floats, +infinity turns the check off. Throws
    // std::invalid_argument, and changes nothing, for a negative or NaN tolerance.
    void SetPositionTolerance(double tolerance)
    {
        PointCloudDataBuilder::CheckSettings(NewCloudSettings{PointCloud(), tolerance});
        settings.positionTolerance = tolerance;
    }

    const NewCloudSettings& Settings() const { return settings; }

    // A new builder over a snapshot of the configuration and of the settings.
    std::shared_ptr<orv::DataProxy::IPointDataBuilder>
    CreatePointDataBuilder(const orv::DataProxy::IPointDataConsumer& consumer) const override
    {
        return std::make_shared<PointCloudDataBuilder>(consumer, mapping, storageWidthByKey,
                                                       settings);
    }

private:
    NewCloudSettings settings;
};

} // namespace orv::Data::Cloud
