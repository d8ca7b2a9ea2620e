// Point and merge sequences on builders of one factory, each builder read back through a cursor
// against a model (the points it accepted, in order) after every merge, at the result steps the
// input draws and at the end; the point steps check how often the consumer is asked. Every key
// is mapped at a width that holds what is drawn for it (the width rules are the builder tests'),
// so values read back as they went in; positions are quarters below 2^12, exact in any frame,
// and a position that is not finite drops its point. A consumer failing at any of its questions
// is the fault-injection suite's.

#include "builder/PointCloudDataBuilderFactory.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/HostChoices.h"
#include "tests/support/TestClouds.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <vector>

namespace orv::Fuzz
{
namespace
{

using namespace orv::TestSupport;

// Short sequences on small clouds: with subsets of 4 points (Factory) the steps still meet
// builders of several subsets and merges across subset boundaries, and a thousand inputs or
// more run in a second.
constexpr std::size_t kMaxOperations = 16, kMaxPoints = 16; // points per builder
constexpr int kBuilders = 2;

struct KeyType
{
    C component;
    unsigned char index;
    int (*type)();
    std::uint64_t width;
};

// U0..U3, S0, R0..R1, V0..V1, C0 at widths that hold what is drawn for them; and a Position key,
// asked about and never stored.
const KeyType kKeys[] = {{C::UnsignedInteger, 0, &Type::Class, 1},
                         {C::UnsignedInteger, 1, &Type::Scan, 4},
                         {C::UnsignedInteger, 2, &WideType<std::uint64_t>, 8},
                         {C::UnsignedInteger, 3, &Type::SplitColor, 2},
                         {C::SignedInteger, 0, &WideType<std::int64_t>, 8},
                         {C::Real, 0, &Type::IntensityNew, 4},
                         {C::Real, 1, &WideType<double>, 8},
                         {C::Vector3, 0, &Type::Normal, 4},
                         {C::Vector3, 1, &WideType<GVector3>, 24},
                         {C::Color, 0, &Type::Intensity, 0}};
constexpr unsigned kAllKeys = (1u << std::size(kKeys)) - 1;

// A factory that maps the keys of `mask` (bit i: kKeys[i]), made once per mask. Each input maps
// a drawn part of the keys, so a builder carries only a few columns, while every key and every
// pair of keys meets in a share of the inputs. Clouds of subsets of 4 points.
const PointCloudDataBuilderFactory& Factory(unsigned mask)
{
    static std::map<unsigned, PrototypedBuilderFactory> factories;
    auto found = factories.find(mask);
    if (found == factories.end())
    {
        PointCloud prototype;
        prototype.Convert().SetSubsetCapacity(4);
        PrototypedBuilderFactory& f = factories.emplace(mask, prototype).first->second;
        // Every key is mapped, so each keeps its index, and those left out are taken off again.
        for (std::size_t i = 0; i < std::size(kKeys); ++i)
            f.MapOptionalComponent(kKeys[i].component, kKeys[i].type(), kKeys[i].width);
        f.MapOptionalComponent(C::Position, Type::Scan(), 4);
        for (std::size_t i = 0; i < std::size(kKeys); ++i)
            if ((mask >> i & 1) == 0)
            {
                f.mapping.extraDataTypeByKey.erase({kKeys[i].component, kKeys[i].index});
                f.storageWidthByKey.erase({kKeys[i].component, kKeys[i].index});
            }
        found = factories.find(mask);
    }
    return found->second;
}

// Declines the keys drawn at the start; counts the questions.
class Consumer final : public orv::DataProxy::IPointDataConsumer
{
public:
    std::vector<Key> declined;
    mutable std::uint64_t asked = 0;

    bool IsComponentRequested(C component, unsigned char index) const override
    {
        ++asked;
        return !Declines({component, index});
    }
    bool Declines(Key key) const
    {
        return std::find(declined.begin(), declined.end(), key) != declined.end();
    }
};

struct Model
{
    std::shared_ptr<orv::DataProxy::IPointDataBuilder> builder;
    bool staged = false;
    std::vector<PointRecord> points;
};

// A readable key reads back what the point brought, zero when it brought nothing; a declined
// key (or a colour on a host that reads no colours) reads no value.
template <class T, class Eq>
bool Same(const std::optional<T>& read, const std::optional<T>& brought, bool readable, Eq eq)
{
    return readable ? read && eq(*read, brought.value_or(T{})) : !read;
}

void CheckValue(const orv::DataProxy::IPointDataCursor& read, const PointRecord& point, Key key,
                bool readable)
{
    const unsigned char i = key.index;
    const auto equal = [](auto a, auto b) { return a == b; };
    bool same = true;
    switch (key.component)
    {
    case C::UnsignedInteger:
        same = Same(read.GetUnsignedInteger(i), point.GetUnsignedInteger(i), readable, equal);
        break;
    case C::SignedInteger:
        same = Same(read.GetSignedInteger(i), point.GetSignedInteger(i), readable, equal);
        break;
    case C::Real: // key 0 is stored as a float: what is drawn for it is one
        same = Same(read.GetReal(i), point.GetReal(i), readable, SameReal);
        break;
    case C::Vector3: // key 0 is packed: a direction within the codec's bound
        same = Same(read.GetVector3(i), point.GetVector3(i), readable,
                    [i](const GVector3& a, const GVector3& b)
                    {
                        return i == 0 && (b.x != 0 || b.y != 0 || b.z != 0)
                                   ? Angle(a, b) <= HostChoice::NormalCodecBound()
                                   : SameReal(a.x, b.x) && SameReal(a.y, b.y) && SameReal(a.z, b.z);
                    });
        break;
    case C::Color:
        same = Same(read.GetColor(i), point.GetColor(i),
                    readable && HostChoice::HostReadsColors(Type::Intensity()),
                    [](const RgbaColor& a, const RgbaColor& b) {
                        return a.r == float(b.r) && a.g == float(b.g) && a.b == float(b.b) &&
                               a.a == 1.0;
                    });
        break;
    default:
        break;
    }
    ORV_FUZZ_CHECK(same) << "key (" << int(key.component) << ", " << int(i) << ")";
}

struct Run
{
    FuzzInput& in;
    const unsigned mask; // of the keys mapped
    const PointCloudDataBuilderFactory& factory;
    Consumer consumer;
    Model models[kBuilders];

    explicit Run(FuzzInput& input) : in(input), mask(in.U16() & kAllKeys), factory(Factory(mask))
    {
        for (const auto& entry : factory.mapping.extraDataTypeByKey)
            if (in.Below(8) == 0)
                consumer.declined.push_back(entry.first);
        for (Model& m : models)
            m.builder = factory.CreatePointDataBuilder(consumer);
    }

    bool Mapped(std::size_t key) const { return (mask >> key & 1) != 0; }

    // The builder's result holds exactly the model's points, every value as it went in.
    void Check(const Model& m) const
    {
        const auto result = m.builder->GetResult();
        ORV_FUZZ_CHECK(orv::DataProxy::PointCount(*result) == m.points.size());
        ORV_FUZZ_CHECK(result->HasComponent(C::Position, 0));
        for (std::size_t i = 0; i < std::size(kKeys); ++i)
            ORV_FUZZ_CHECK(result->HasComponent(kKeys[i].component, kKeys[i].index) == Mapped(i));
        const WantAll everything;
        std::size_t j = 0;
        for (auto c = result->GetIterable(everything)->CreateCursor(); c->IsValid(); c->MoveNext())
        {
            ORV_FUZZ_CHECK(j < m.points.size() && c->GetPointIndex() == j);
            const PointRecord& point = m.points[j++];
            const GPointDouble p = c->GetPosition();
            ORV_FUZZ_CHECK(p.x == point.position.x && p.y == point.position.y &&
                           p.z == point.position.z)
                << "point " << j - 1;
            for (std::size_t i = 0; i < std::size(kKeys); ++i)
            {
                const Key key{kKeys[i].component, kKeys[i].index};
                if (Mapped(i))
                    CheckValue(*c, point, key, !consumer.Declines(key));
            }
        }
        ORV_FUZZ_CHECK(j == m.points.size());
    }

    double Coordinate()
    {
        if (in.Below(32) == 0)
            return in.Bool() ? std::nan("") : (in.Bool() ? HUGE_VAL : -HUGE_VAL);
        return 0.25 * double(std::int16_t(in.U16()) / 2);
    }

    PointRecord DrawPoint()
    {
        PointRecord p;
        p.position = {Coordinate(), Coordinate(), Coordinate()};
        const auto some = [this] { return in.Below(4) != 0; };
        if (some())
            p.SetUnsignedInteger(0, in.U8());
        if (some())
            p.SetUnsignedInteger(1, in.U32());
        if (some())
            p.SetUnsignedInteger(2, in.U64());
        if (some())
            p.SetUnsignedInteger(3, in.U16());
        if (some())
            p.SetSignedInteger(0, std::int64_t(in.U64()));
        if (some())
            p.SetReal(0, double(in.RawFloat()));
        if (some())
            p.SetReal(1, in.RawDouble());
        if (some()) // any direction (the builder packs it as a unit vector), or none
            p.SetVector3(0, {double(std::int8_t(in.U8())), double(std::int8_t(in.U8())),
                             double(std::int8_t(in.U8()))});
        if (some())
            p.SetVector3(1, {in.RawDouble(), in.RawDouble(), in.RawDouble()});
        if (some())
            p.SetColor(0, {in.U8() / 255.0, in.U8() / 255.0, in.U8() / 255.0, in.U8() / 255.0});
        return p;
    }

    void Add(Model& m)
    {
        if (m.points.size() >= kMaxPoints)
            return;
        const PointRecord p = DrawPoint();
        const std::uint64_t asked = consumer.asked;
        m.builder->AddPointData(p);
        // Asked once per mapped key when the staging is made, never again.
        ORV_FUZZ_CHECK(consumer.asked - asked ==
                       (m.staged ? 0 : factory.mapping.extraDataTypeByKey.size()));
        m.staged = true;
        if (std::isfinite(p.position.x + p.position.y + p.position.z))
            m.points.push_back(p);
    }

    // Merges `source` into `target` (possibly itself).
    void Merge(Model& target, const Model& source)
    {
        if (target.points.size() + source.points.size() > kMaxPoints)
            return;
        dynamic_cast<PointCloudDataBuilder&>(*target.builder)
            .Merge(dynamic_cast<const PointCloudDataBuilder&>(*source.builder));
        if (source.staged)
        {
            const std::vector<PointRecord> appended = source.points; // source may be target
            target.points.insert(target.points.end(), appended.begin(), appended.end());
            target.staged = true;
        }
        Check(target);
        Check(source);
    }

    void Go()
    {
        for (std::size_t op = 0; op < kMaxOperations && !in.Empty(); ++op)
        {
            Model& m = models[in.Below(kBuilders)];
            switch (in.Below(8))
            {
            case 0:
                Merge(m, models[in.Below(kBuilders)]);
                break;
            case 1:
                if (in.Below(4) == 0)
                    m = Model{factory.CreatePointDataBuilder(consumer), false, {}};
                break;
            case 2: // a result between the steps, so later steps meet a builder that gave one
                Check(m);
                break;
            default:
                Add(m);
                break;
            }
        }
        for (const Model& m : models)
            Check(m);
    }
};

} // namespace

void RunBuilderSequences(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    Run(in).Go();
}

} // namespace orv::Fuzz
