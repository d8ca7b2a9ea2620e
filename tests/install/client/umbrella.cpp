// Includes the umbrella header and nothing else, and touches every public type through it: a
// header a newcomer needs that the umbrella lacks fails to compile here.
#include <OrvDataProxyImplTzk.h>

#include <cstdio>

namespace
{

using namespace orv::DataProxy;
using namespace orv::Data::Cloud;

bool Check(bool condition, const char* what)
{
    if (!condition)
        std::printf("umbrella client: %s\n", what);
    return condition;
}

// Maps host classes without a width: the width the factory takes must be each class's element
// size.
template <class... X>
bool NaturalWidths(PointCloudDataBuilderFactory& factory, EPointDataComponent component)
{
    return (Check(factory.storageWidthByKey.at(factory.MapOptionalComponent(
                      component, X::TypeId())) == sizeof(typename X::StoredType),
                  "a host class mapped at another width than its element size") &&
            ...);
}

} // namespace

bool UmbrellaClientWorks()
{
    PointCloudDataBuilderFactory factory;
    // The twelve host classes.
    bool ok = NaturalWidths<CloudClassificationExtraData, CloudGridPositionIndexExtraData,
                            CloudSegmentationExtraData, CloudSplitColorExtraData,
                            CloudClassificationInstanceExtraData, CloudScanIDExtraData>(
                  factory, EPointDataComponent::UnsignedInteger) &&
              NaturalWidths<CloudImprovementStatsExtraData, CloudIntensityNewExtraData,
                            CloudIntensityTempExtraData, CloudMaxProbabilityExtraData>(
                  factory, EPointDataComponent::Real) &&
              NaturalWidths<CloudNormalExtraData>(factory, EPointDataComponent::Vector3) &&
              NaturalWidths<CloudIntensityExtraData>(factory, EPointDataComponent::Color);

    // A host cloud of three points, read through a provider, written like it point by point.
    PointCloud cloud;
    GPointDouble position{};
    orv::Math::Algebra::CompressedVector32Bits normal;
    orv::Data::Primitive::ColorValue intensity;
    GCloudPointData record(&position);
    record.AddExtraData(CloudNormalExtraData::TypeId(), &normal);
    record.AddExtraData(CloudIntensityExtraData::TypeId(), &intensity);
    cloud.Convert().SetType(1, 0.0f, 1.0f, nullptr, false);
    for (int i = 0; i < 3; ++i)
    {
        position = {10.0 * i, 1.0, 2.0};
        normal.VectorSet(GVector3{0.0, 0.0, 1.0});
        intensity.SetValueFloat(0.25f * i);
        ok = ok && cloud.AddPoint(record, true) == ExitCodeAddPoint::Ok;
    }
    PointCloudDataProvider source(cloud);
    source.MapOptionalComponent(EPointDataComponent::Vector3, CloudNormalExtraData::TypeId());
    source.MapOptionalComponent(EPointDataComponent::Real, CloudIntensityExtraData::TypeId());
    const ComponentMapping& mapping = source.GetMapping();
    const PointCloudDataBuilderFactory like(mapping);
    const WantKeys consumer(MappedKeys(mapping));
    const std::shared_ptr<IPointDataBuilder> first = like.CreatePointDataBuilder(consumer);
    const std::shared_ptr<IPointDataBuilder> second = like.CreatePointDataBuilder(consumer);
    const std::vector<std::shared_ptr<IPointDataIterable>> pieces =
        SplitIntoPieces(source.GetIterable(consumer), 2, 1);
    PointRecord point;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        for (std::shared_ptr<IPointDataCursor> c = pieces[i]->CreateCursor(); c->IsValid();
             c->MoveNext())
        {
            point.Assign(*c, MappedKeys(mapping));
            (i == 0 ? first : second)->AddPointData(point);
        }
    MergeBuilders(*first, *second);
    const std::shared_ptr<IPointDataProvider> copy = first->GetResult();
    ok = ok && Check(PointCount(*copy) == 3 && pieces.size() == 2, "points lost");
    ok = ok && Check(copy->HasComponent(EPointDataComponent::Real, 0), "key lost");

    // The optional interfaces without a cast, and the records of the four queries.
    const IBoundingBoxProvider::AxisAlignedBoundingBox box =
        AsBoundingBoxProvider(*copy).GetBoundingBox();
    const std::unique_ptr<IPointDataProvider> near =
        Select(*copy, InsideSphereQuery{{0.0, 1.0, 2.0}, 0.5});
    const std::unique_ptr<IPointDataProvider> inBox =
        Select(*copy, InsideAxisAlignedBoxQuery{{-1.0, 0.0, 1.0}, {21.0, 2.0, 3.0}});
    const std::unique_ptr<IPointDataProvider> along =
        Select(*copy, InsideCylinderQuery{{0.0, 1.0, 2.0}, {1.0, 0.0, 0.0}, 0.5, -1.0});
    ClippingPlanesQuery planes;
    planes.planes.push_back(ClippingPlane{{1.0, 0.0, 0.0}, 5.0});
    const std::unique_ptr<IPointDataProvider> side =
        AsQueryable<ClippingPlanesQuery>(*copy).GetPoints(planes, false);
    ok = ok && Check(PointCount(*near) == 1 && PointCount(*along) >= 2 &&
                         PointCount(*side) +
                                 PointCount(*AsQueryable<ClippingPlanesQuery>(*copy).GetPoints(
                                     planes, true)) ==
                             3,
                     "queries");
    const orv::Data::Primitive::GBBox hostBox = cloud.ComputeBoundingBox();
    ok = ok && Check(PointCount(*inBox) == 3 && hostBox.v[3] == 20.0 &&
                         box.secondCorner.x == hostBox.v[3],
                     "bounding box");

    // The contract's value records and keys.
    const RgbaColor grey{0.5, 0.5, 0.5, 1.0};
    point.SetColor(0, grey);
    point.SetSignedInteger(0, -1);
    const PointDataComponents::ComponentKey key{EPointDataComponent::Color, 0};
    ok = ok && Check(PointDataComponents::ComponentKeyHash()(key) != 0 &&
                         IsExtraDataComponent(key.component) && point.GetColor(0)->g == 0.5 &&
                         *point.GetSignedInteger(0) == -1,
                     "records");
    const MinimumPieceHint minimum(1);
    const IPointDataSplitHint& hint = minimum;
    const WantAll wantAll;
    const IPointDataConsumer& everything = wantAll;
    const IPointDataAccessor& accessor = point;
    const ISizedCollection& sized = source;
    const IPointDataBuilderFactory& abstractFactory = like;
    ok = ok && Check(accessor.GetPosition().x == point.position.x && sized.Size() == 3 &&
                         abstractFactory.CreatePointDataBuilder(everything) != nullptr,
                     "the interfaces");
    const StorageWidthTable widths;
    PointCloudDataBuilder direct(everything, ComponentMapping(), widths);
    direct.AddPointData(point);
    return ok && Check(source.GetIterable(everything)->IsDivisible(hint) &&
                           PointCount(*direct.GetResult()) == 1,
                       "the builder constructed directly");
}
