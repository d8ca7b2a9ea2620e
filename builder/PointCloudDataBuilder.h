#pragma once

#include "blocks/PointDataBlocks.h"
#include "contract/ComponentMapping.h"
#include "contract/Export.h"
#include "contract/Interfaces.h"
#include "contract/PointDataComponents.h"
#include "host/geometry/Cloud.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace orv::Data::Cloud
{

// Width in bytes of one point's value of a key in the host's extra-data storage:
//   Vector3                         24 (three doubles) or 4 (one packed 32-bit vector)
//   UnsignedInteger, SignedInteger  8, 4, 2, 1 (the value's low-order bytes, no range check)
//   Real                            8 (double) or 4 (float, rounded to nearest)
//   Color                           not consulted: always a host ColorValue
// No other width is accepted, nor one that differs from a known host type's element size (see
// PointCloudDataBuilderFactory::MapOptionalComponent for the whole rule).
using StorageWidthTable =
    std::unordered_map<orv::DataProxy::PointDataComponents::ComponentKey, std::uint64_t,
                       orv::DataProxy::PointDataComponents::ComponentKeyHash>;

// How a builder starts its new cloud and how exactly it must keep positions.
//
// prototype: every new cloud starts as a copy of it (the host's copy constructor), so what the
// client set on it with its host's own means (a frame, a colour mode, a subset size) holds for
// every cloud built. It must hold no points, and its frame must be a translation (a builder
// stores vectors, such as normals, in its cloud's axes as given, and readers turn them by the
// frame's linear part). A default-constructed cloud is what a builder
// starts from without one. A builder that maps a Color key still makes its cloud a colour cloud.
//
// positionTolerance: the host stores positions as floats in the cloud's frame (local to world),
// so a position far from the frame's origin is stored in coarse steps (on a host that keeps
// the identity frame, 0.5 near 5,180,000). A builder refuses a point whose stored position
// would differ from the given one by more than this in any world coordinate (see
// PointCloudDataBuilder::AddPointData). Zero asks for exact floats; +infinity turns the check
// off. Negative or NaN is refused.
struct NewCloudSettings
{
    static constexpr double kDefaultPositionTolerance = 0.001;

    orv::Data::Cloud::PointCloud prototype;
    double positionTolerance = kDefaultPositionTolerance;
};

// The builder's private state (configuration and the cloud under construction).
struct BuilderState;

// Turns points read through the contract into a new host PointCloud.
//
// The first AddPointData creates the staging: a new cloud (of the host's colour type when a
// Color key is mapped) and one fixed value slot per mapped extra-data key; the consumer is
// asked once per mapped key, and the slots of the wanted keys are registered with the host's
// point record. A key whose host type turns out, by then, to have another element size than
// the value written (a policy registered after the configuration was checked), or to be wider
// than the slot of a key without width, is not registered: the host would store bytes that
// were never a value, or read past the slot, so the key stays out of the cloud. Every
// AddPointData then copies the position and each key's value, narrowed to its width, into the
// slots and appends one host point.
//
// An absent value (an empty optional from the accessor) is stored as zero bytes: 0 for the
// integers and Real, the packed zero vector for Vector3 (which reads back as (0, 0, 0)), black
// for Color. Nothing is carried over from an earlier point. Zero is a value:
// reading the new cloud back, such a point has the key, "present, 0", not an empty optional.
// Write only points that have every mapped key, or map separate keys, when absence matters.
//
// Owns its state alone. Borrows the consumer: it is asked whenever a staging is created
// (first point, or a Merge into a builder without points), so the caller keeps it alive as
// long as this builder or a copy of it may do so. The accessor is used only during the call.
// Providers from GetResult hold their own copy of the cloud and may outlive the builder.
//
// Copying takes the points over: the new builder (or the target of an assignment) owns the
// staging, and the builder copied from starts afresh with an empty cloud. There is no move;
// moving goes through the copy, which hands the staging on as well.
//
// Positions: a point is stored only when the host keeps its position within the settings'
// positionTolerance (1 mm by default; see NewCloudSettings). The builder learns its cloud's frame
// from the host once the cloud holds a point (a host may move the frame of a new cloud to its
// first point, as the reference host does, or keep the identity); the first point is tried on a
// copy of the empty cloud first. A point that would be stored coarser throws std::range_error
// naming the position, the step the host would store it at and the two remedies (a prototype
// whose frame sits near the data, or a larger tolerance); nothing is appended for it and the
// builder stays usable.
//
// Threads: one thread at a time per builder; separate builders share nothing but a consumer,
// on which they only call IsComponentRequested (const). Merge reads `other`, which no other
// thread may use meanwhile.
//
// Throws: the constructor std::invalid_argument (see there); AddPointData std::range_error (a
// position stored too coarsely, above), std::out_of_range
// ("invalid unordered_map<K, T> key") when a point brings a value for a Vector3 / integer /
// Real key without a width, before the point is appended (the builder stays usable);
// std::bad_alloc; exceptions of the accessor (a cursor past its end, for one), of the consumer
// and of the host pass through, and the builder stays usable. A staging is installed only when
// it is complete, so a consumer that throws leaves the builder without one.
class ORV_DATAPROXY_API PointCloudDataBuilder : public orv::DataProxy::IPointDataBuilder
{
public:
    // Checks the configuration with the factory's width rule: every mapped key that has a
    // width, and every Color key; std::invalid_argument when one breaks it. Keys without a
    // width are accepted (see AddPointData's std::out_of_range). A Real key on the host's own
    // intensity type is written under a plain float type (PointCloudDataBuilderFactory says
    // which); std::invalid_argument, naming the key, when none is free. New clouds start
    // from a default host cloud, with the default position tolerance.
    PointCloudDataBuilder(const orv::DataProxy::IPointDataConsumer& consumer,
                          const ComponentMapping& mapping,
                          const StorageWidthTable& storageWidthByKey);
    // As above, with new clouds started from `settings.prototype` and positions kept within
    // `settings.positionTolerance`; std::invalid_argument when CheckSettings refuses them.
    PointCloudDataBuilder(const orv::DataProxy::IPointDataConsumer& consumer,
                          const ComponentMapping& mapping,
                          const StorageWidthTable& storageWidthByKey,
                          const NewCloudSettings& settings);
    // Copies the configuration and takes over `other`'s staging (its points), if any.
    PointCloudDataBuilder(const PointCloudDataBuilder& other);
    // Discards this builder's state, then as the copy constructor. Self-assignment changes
    // nothing.
    PointCloudDataBuilder& operator=(const PointCloudDataBuilder& other);
    ~PointCloudDataBuilder() override;

    // A hint only: the host cloud grows by itself.
    void Reserve(std::uint64_t count) override;

    // Appends the point `point` stands on. After the first point this allocates nothing of
    // its own; the host's cloud grows its tables as it needs. A position the host would store
    // coarser than the tolerance throws std::range_error (see above). A point the host refuses
    // (a position that is not finite) is dropped without notice.
    void AddPointData(const orv::DataProxy::IPointDataAccessor& point) override;

    // Appends the block's points (orv::DataProxy::AppendBlock calls it): what AddPointData
    // stores for them, bit for bit, with one pass per column of the block and no accessor, and
    // the same exceptions after the same points. A block without positions throws
    // std::out_of_range (after creating the staging, as the first AddPointData would); a
    // present value of a key without width throws std::out_of_range, a coarse position
    // std::range_error, after the points before it are appended.
    void AppendBlock(const orv::DataProxy::PointDataBlock& block);

    // Throws std::invalid_argument, saying why, when a builder cannot start from `settings`: a
    // prototype holding points or whose frame turns or scales, a negative or NaN tolerance.
    static void CheckSettings(const NewCloudSettings& settings);

    // A new provider over a copy of the cloud built so far (a copy of the prototype before the
    // first point), with the whole mapping as written (a Real key on the host's intensity type
    // under its plain float type): every mapped key is reported by HasComponent, also keys
    // the consumer declined. The builder can go on adding points.
    std::shared_ptr<orv::DataProxy::IPointDataProvider> GetResult() override;

    // Appends `other`'s points to this builder's cloud; `other` is left unchanged. Nothing
    // happens when `other` has no points. A builder without points first creates its staging
    // as its first AddPointData would (consumer asked, wanted keys registered), of the colour
    // type also when `other`'s cloud is a colour cloud. Merging a builder into itself doubles
    // its points.
    //
    // `const` although it changes this builder's cloud: the signature is part of the exported
    // interface that clients are compiled against, so it stays as it is. MergeBuilders below
    // is the call to use: it takes the target as non-const, says plainly which builder
    // changes, and needs no cast from the IPointDataBuilder a factory hands out.
    void Merge(const PointCloudDataBuilder& other) const;

private:
    std::unique_ptr<BuilderState> state;
};

// Appends the points of `source` to `target`, both builders from a PointCloudDataBuilderFactory
// (for instance one per thread, merged once the threads are done), as target.Merge(source)
// does; `source` is left unchanged. Throws std::invalid_argument, naming which argument, when
// either is not this library's builder: the points of a builder of unknown origin can only be
// merged by reading them, which its own provider (GetResult) and AddPointData do.
inline void MergeBuilders(orv::DataProxy::IPointDataBuilder& target,
                          const orv::DataProxy::IPointDataBuilder& source)
{
    auto* const into = dynamic_cast<PointCloudDataBuilder*>(&target);
    const auto* const from = dynamic_cast<const PointCloudDataBuilder*>(&source);
    if (into == nullptr || from == nullptr)
    {
        throw std::invalid_argument(std::string("MergeBuilders: the ") +
                                    (into == nullptr ? "target" : "source") +
                                    " is not a PointCloudDataBuilder (a builder made by a "
                                    "PointCloudDataBuilderFactory); only those can be merged");
    }
    into->Merge(*from);
}

} // namespace orv::Data::Cloud
