#include "platform/foundation/KeyedArchiver.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedArchiveFormat.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>

using platform::ClassRegistry;
using platform::Data;
using platform::ErrorPtr;
using platform::KeyedArchiver;
using platform::KeyedUnarchiver;
using platform::Number;
using platform::ObjectPtr;
using platform::Value;
using platform::ValueArray;
namespace archive = platform::detail::archive;

namespace {

class Artist final : public platform::Object, public platform::Coding {
public:
    std::string name;
    std::shared_ptr<Artist> mentor;

    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(name, "name");
        coder.encodeObject(mentor, "mentor");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        name = coder.decodeObjectForKey("name").stringOr();
        mentor = coder.decodeObjectOfClass<Artist>("mentor");
        return true;
    }
};

class Track final : public platform::Object, public platform::Coding {
public:
    std::string title;
    double duration{0};
    int64_t plays{0};
    bool liked{false};
    float rating{0};
    int32_t channel{0};
    Value extras;
    Value missing;
    std::shared_ptr<Artist> artist;

    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(title, "title");
        coder.encodeDouble(duration, "duration");
        coder.encodeInt64(plays, "plays");
        coder.encodeBool(liked, "liked");
        coder.encodeFloat(rating, "rating");
        coder.encodeInt32(channel, "channel");
        coder.encodeObject(extras, "extras");
        coder.encodeObject(missing, "missing");
        coder.encodeObject(artist, "artist");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        title = coder.decodeObjectForKey("title").stringOr();
        duration = coder.decodeDoubleForKey("duration");
        plays = coder.decodeInt64ForKey("plays");
        liked = coder.decodeBoolForKey("liked");
        rating = coder.decodeFloatForKey("rating");
        channel = coder.decodeInt32ForKey("channel");
        extras = coder.decodeObjectForKey("extras");
        missing = coder.decodeObjectForKey("missing");
        artist = coder.decodeObjectOfClass<Artist>("artist");
        return true;
    }
};

// A graph node: `next` may close a cycle, `members` holds objects inside a collection.
class Node final : public platform::Object, public platform::Coding {
public:
    int64_t id{0};
    std::shared_ptr<Node> next;
    Value members;

    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeInteger(id, "id");
        coder.encodeObject(next, "next");
        coder.encodeObject(members, "members");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        id = coder.decodeIntegerForKey("id");
        next = coder.decodeObjectOfClass<Node>("next");
        members = coder.decodeObjectForKey("members");
        return true;
    }
};

// Refuses archives without its required key.
class Picky final : public platform::Object, public platform::Coding {
public:
    bool required{false};
    std::shared_ptr<Picky> child;

    void encodeWithCoder(KeyedArchiver& coder) const override {
        if (required)
            coder.encodeBool(true, "required");
        coder.encodeObject(child, "child");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        if (!coder.containsValueForKey("required"))
            return false;
        child = coder.decodeObjectOfClass<Picky>("child");
        return true;
    }
};

class Plain final : public platform::Object {};

void collectObjects(const Value& value, std::vector<ObjectPtr>& out) {
    if (auto object = value.object())
        out.push_back(object);
    else if (auto* members = value.array())
        for (const auto& member : *members)
            collectObjects(member, out);
    else if (auto* entries = value.dictionary())
        for (const auto& [key, member] : *entries)
            collectObjects(member, out);
    else if (auto* set = value.set())
        for (const auto& member : *set)
            collectObjects(member, out);
}

// Clears every link in a decoded graph. Damaged archives may decode into cycles, which shared
// pointers would otherwise keep alive past the test.
void untie(const ObjectPtr& root) {
    std::vector<ObjectPtr> pending{root};
    std::set<const platform::Object*> seen;
    while (!pending.empty()) {
        ObjectPtr object = pending.back();
        pending.pop_back();
        if (!object || !seen.insert(object.get()).second)
            continue;
        if (auto node = std::dynamic_pointer_cast<Node>(object)) {
            pending.push_back(std::move(node->next));
            collectObjects(node->members, pending);
            node->members = Value();
        } else if (auto track = std::dynamic_pointer_cast<Track>(object)) {
            pending.push_back(std::move(track->artist));
            collectObjects(track->extras, pending);
            collectObjects(track->missing, pending);
            track->extras = Value();
            track->missing = Value();
        } else if (auto artist = std::dynamic_pointer_cast<Artist>(object)) {
            pending.push_back(std::move(artist->mentor));
        } else if (auto picky = std::dynamic_pointer_cast<Picky>(object)) {
            pending.push_back(std::move(picky->child));
        }
    }
}

class KeyedArchiverTest : public testing::Test {
protected:
    void SetUp() override {
        auto& registry = ClassRegistry::shared();
        registry.registerClass<Artist>("Artist", "NSObject");
        registry.registerClass<Track>("Track", "NSObject");
        registry.registerClass<Node>("Node", "NSObject");
        registry.registerClass<Picky>("Picky", "NSObject");
        registry.registerClass<Plain>("Plain", "NSObject");
    }
    void TearDown() override {
        for (const char* name : {"Artist", "Track", "Node", "Picky", "Plain"})
            ClassRegistry::shared().unregisterClass(name);
    }

    static std::shared_ptr<Track> sampleTrack() {
        auto teacher = std::make_shared<Artist>();
        teacher->name = "Teacher";
        auto artist = std::make_shared<Artist>();
        artist->name = "Singer \u00e9";
        artist->mentor = teacher;

        auto track = std::make_shared<Track>();
        track->title = "Song";
        track->duration = 215.25;
        track->plays = INT64_MIN;
        track->liked = true;
        track->rating = 4.5f;
        track->channel = -7;
        track->artist = artist;
        track->extras = Value::dictionary({
            {"tags", Value::array({"live", "music", Value(), Value::null()})},
            {"counts",
             Value::array({UINT64_MAX, INT64_MAX, 0.1f, 1e300, -0.0, Number::decimal("1e400"), false})},
            {"cover", Data(std::string_view("\x89PNG\0\1", 6))},
            {"empty", Data()},
            {"released", platform::Date(1796577741.5)},
            {"home", platform::URL::create("https://example.com/a?b=c")},
            {"set", platform::ValueSet{1, "one"}},
            {"teacher", teacher},
            {"nested", Value::dictionary({{"deeper", Value::array({Value::array({})})}})},
        });
        return track;
    }

    static Data reseal(std::vector<uint8_t> bytes) {
        if (bytes.size() >= archive::kHeaderSize) {
            uint64_t length = bytes.size() - archive::kHeaderSize;
            uint32_t crc = archive::crc32(bytes.data() + archive::kHeaderSize, length);
            for (int i = 0; i < 4; ++i) {
                bytes[8 + i] = static_cast<uint8_t>(length >> (8 * i));
                bytes[12 + i] = static_cast<uint8_t>(crc >> (8 * i));
            }
        }
        return Data(std::move(bytes));
    }

    // A sealed archive around a hand-made body.
    static Data sealed(const std::string& body) {
        std::string out(archive::kMagic);
        archive::putFixed(out, 1, 2);
        archive::putFixed(out, 0, 2);
        archive::putFixed(out, 0, 8);
        out += body;
        return reseal(Data(out).toVector());
    }

    static void expectCorrupt(const Data& data, const std::string& label) {
        ErrorPtr error;
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(data, &error)) << label;
        ASSERT_TRUE(error) << label;
        EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain) << label;
        EXPECT_EQ(error->code(), platform::NSCoderReadCorruptError) << label;
    }
};

} // namespace

TEST_F(KeyedArchiverTest, RoundTripKeepsEveryKindOfValue) {
    auto original = sampleTrack();
    Data bytes = KeyedArchiver::archivedDataWithRootObject(original);
    ASSERT_FALSE(bytes.empty());

    ErrorPtr error;
    auto back = std::dynamic_pointer_cast<Track>(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error));
    ASSERT_TRUE(back) << (error ? error->description() : "");
    EXPECT_FALSE(error);
    EXPECT_EQ(back->title, "Song");
    EXPECT_EQ(back->duration, 215.25);
    EXPECT_EQ(back->plays, INT64_MIN);
    EXPECT_TRUE(back->liked);
    EXPECT_EQ(back->rating, 4.5f);
    EXPECT_EQ(back->channel, -7);
    EXPECT_TRUE(back->missing.isNil());
    ASSERT_TRUE(back->artist);
    EXPECT_EQ(back->artist->name, "Singer \u00e9");
    ASSERT_TRUE(back->artist->mentor);
    EXPECT_EQ(back->artist->mentor->name, "Teacher");

    const Value& extras = back->extras;
    EXPECT_EQ(extras["tags"], original->extras["tags"]);
    EXPECT_TRUE(extras["tags"][2].isNil());
    EXPECT_TRUE(extras["tags"][3].isNull());
    EXPECT_EQ(extras["cover"], original->extras["cover"]);
    EXPECT_EQ(extras["empty"], Value(Data()));
    EXPECT_EQ(extras["released"], original->extras["released"]);
    EXPECT_EQ(extras["home"].url()->absoluteString(), "https://example.com/a?b=c");
    EXPECT_EQ(extras["set"], original->extras["set"]);
    EXPECT_EQ(extras["nested"], original->extras["nested"]);
    // Numbers keep their kind, not only their value.
    const auto& counts = *extras["counts"].array();
    std::vector<Number::Kind> kinds;
    for (const auto& n : counts)
        kinds.push_back(n.number()->kind());
    EXPECT_EQ(kinds, (std::vector<Number::Kind>{Number::Kind::UInt, Number::Kind::Int, Number::Kind::Float,
                                                Number::Kind::Double, Number::Kind::Double,
                                                Number::Kind::Decimal, Number::Kind::Bool}));
    EXPECT_EQ(counts[0].number()->uint64Value(), UINT64_MAX);
    EXPECT_TRUE(std::signbit(counts[4].number()->doubleValue()));
    EXPECT_EQ(counts[5].number()->decimalText(), "1e400");
}

TEST_F(KeyedArchiverTest, CollectionsAtTheRootReadBackAsValues) {
    auto artist = std::make_shared<Artist>();
    artist->name = "Solo";
    Value root =
        Value::dictionary({{"when", platform::Date(5)}, {"who", artist}, {"n", Value::array({1, "x"})}});
    Value back = KeyedUnarchiver::unarchiveValueWithData(KeyedArchiver::archivedDataWithRootValue(root));
    EXPECT_EQ(back["when"], root["when"]);
    EXPECT_EQ(back["n"], root["n"]);
    ASSERT_TRUE(back["who"].objectAs<Artist>());
    EXPECT_EQ(back["who"].objectAs<Artist>()->name, "Solo");
    // An object at the root is archived as itself, so either reader takes it.
    Data objectArchive = KeyedArchiver::archivedDataWithRootValue(artist);
    EXPECT_TRUE(std::dynamic_pointer_cast<Artist>(KeyedUnarchiver::unarchiveObjectWithData(objectArchive)));
    EXPECT_TRUE(KeyedUnarchiver::unarchiveValueWithData(Data(std::string_view("LVKA junk"))).isNil());
}

TEST_F(KeyedArchiverTest, AnObjectReachedTwiceDecodesAsOneObject) {
    auto original = sampleTrack();
    auto back = std::dynamic_pointer_cast<Track>(
        KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(original)));
    ASSERT_TRUE(back);
    // The teacher is reached as the artist's mentor and from inside the extras dictionary.
    EXPECT_EQ(back->extras["teacher"].object(), back->artist->mentor);

    auto shared = std::make_shared<Node>();
    shared->id = 7;
    auto root = std::make_shared<Node>();
    root->next = shared;
    root->members = Value::array({shared, Value::dictionary({{"again", shared}}), shared});
    auto decoded = std::dynamic_pointer_cast<Node>(
        KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(root)));
    ASSERT_TRUE(decoded && decoded->next);
    EXPECT_EQ(decoded->next->id, 7);
    EXPECT_EQ(decoded->members[size_t{0}].object(), decoded->next);
    EXPECT_EQ(decoded->members[1]["again"].object(), decoded->next);
    EXPECT_EQ(decoded->members[2].object(), decoded->next);
}

TEST_F(KeyedArchiverTest, CyclesDecodeAsTheSameCycleWithoutEndlessRecursion) {
    auto a = std::make_shared<Node>();
    auto b = std::make_shared<Node>();
    a->id = 1;
    b->id = 2;
    a->next = b;
    b->next = a;
    b->members = Value::array({b});
    Data bytes = KeyedArchiver::archivedDataWithRootObject(a);
    a->next.reset(); // break the cycle we made, or it would leak
    b->members = Value();

    auto back = std::dynamic_pointer_cast<Node>(KeyedUnarchiver::unarchiveObjectWithData(bytes));
    ASSERT_TRUE(back && back->next);
    EXPECT_EQ(back->id, 1);
    EXPECT_EQ(back->next->id, 2);
    EXPECT_EQ(back->next->next, back);
    EXPECT_EQ(back->next->members[size_t{0}].object(), back->next);
    back->next->members = Value();
    back->next.reset();
}

TEST_F(KeyedArchiverTest, LongChainsEncodeWithoutRecursionAndTooDeepOnesAreRefused) {
    auto makeChain = [](int length) {
        auto head = std::make_shared<Node>();
        auto tail = head;
        for (int i = 1; i < length; ++i) {
            tail->next = std::make_shared<Node>();
            tail = tail->next;
            tail->id = i;
        }
        return head;
    };
    auto chain = makeChain(300);
    auto back = std::dynamic_pointer_cast<Node>(
        KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(chain)));
    ASSERT_TRUE(back);
    int count = 1;
    for (auto n = back; n->next; n = n->next)
        ++count;
    EXPECT_EQ(count, 300);

    Data tooDeep = KeyedArchiver::archivedDataWithRootObject(makeChain(2000));
    ASSERT_FALSE(tooDeep.empty());
    expectCorrupt(tooDeep, "chain of 2000");

    // Each link alone is shallow enough, but the stack holds them all at once.
    auto head = std::make_shared<Node>();
    auto link = head;
    for (int i = 0; i < 10; ++i) {
        auto next = std::make_shared<Node>();
        Value wrapped = next;
        for (int depth = 0; depth < 300; ++depth)
            wrapped = Value::array({wrapped});
        link->members = wrapped;
        link = next;
    }
    Data nestedLinks = KeyedArchiver::archivedDataWithRootObject(head);
    ASSERT_FALSE(nestedLinks.empty());
    expectCorrupt(nestedLinks, "values between objects");
}

TEST_F(KeyedArchiverTest, MissingKeysReadAsZeroAndNumbersConvertBetweenKinds) {
    struct Probe final : public platform::Object, public platform::Coding {
        void encodeWithCoder(KeyedArchiver& coder) const override {
            coder.encodeInt64(int64_t(1) << 40, "big");
            coder.encodeInt64(-(int64_t(1) << 40), "small");
            coder.encodeDouble(-2.75, "real");
            coder.encodeObject("text", "text");
            coder.encodeInt32(1, "replaced");
            coder.encodeInt32(2, "replaced");
        }
        bool initWithCoder(KeyedUnarchiver& coder) override {
            big = coder.decodeInt32ForKey("big");
            small = coder.decodeInt32ForKey("small");
            truncated = coder.decodeInt64ForKey("real");
            realAsBool = coder.decodeBoolForKey("real");
            textAsNumber = coder.decodeInt64ForKey("text");
            replaced = coder.decodeInt32ForKey("replaced");
            absent = coder.decodeDoubleForKey("absent") + coder.decodeInt64ForKey("absent");
            hasText = coder.containsValueForKey("text");
            hasAbsent = coder.containsValueForKey("absent");
            wrongClass = coder.decodeObjectOfClass<Artist>("text") != nullptr;
            return true;
        }
        int32_t big = 0, small = 0, replaced = 0;
        int64_t truncated = 0, textAsNumber = -1;
        double absent = -1;
        bool realAsBool = false, hasText = false, hasAbsent = true, wrongClass = true;
    };
    ClassRegistry::shared().registerClass<Probe>("Probe", "NSObject");
    auto back = std::dynamic_pointer_cast<Probe>(KeyedUnarchiver::unarchiveObjectWithData(
        KeyedArchiver::archivedDataWithRootObject(std::make_shared<Probe>())));
    ClassRegistry::shared().unregisterClass("Probe");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->big, INT32_MAX);
    EXPECT_EQ(back->small, INT32_MIN);
    EXPECT_EQ(back->truncated, -2);
    EXPECT_TRUE(back->realAsBool);
    EXPECT_EQ(back->textAsNumber, 0);
    EXPECT_EQ(back->replaced, 2);
    EXPECT_EQ(back->absent, 0.0);
    EXPECT_TRUE(back->hasText);
    EXPECT_FALSE(back->hasAbsent);
    EXPECT_FALSE(back->wrongClass);
}

TEST_F(KeyedArchiverTest, ObjectsThatCannotBeArchivedFailTheWholeArchive) {
    auto refused = [](const ObjectPtr& root) {
        ErrorPtr error;
        EXPECT_TRUE(KeyedArchiver::archivedDataWithRootObject(root, &error).empty());
        return error ? error->code() : 0;
    };
    EXPECT_EQ(refused(nullptr), platform::NSCoderInvalidValueError);
    auto node = std::make_shared<Node>();
    node->members = Value::array({std::make_shared<Plain>()});
    EXPECT_EQ(refused(node), platform::NSCoderInvalidValueError);

    ClassRegistry::shared().unregisterClass("Node");
    EXPECT_NE(refused(std::make_shared<Node>()), 0);
    ClassRegistry::shared().registerClass<Node>("Node", "NSObject");
    Value deep = Value::array({});
    for (int i = 0; i < 600; ++i)
        deep = Value::array({deep});
    node->members = deep;
    EXPECT_NE(refused(node), 0);
}

TEST_F(KeyedArchiverTest, UnknownOrUncodableClassesDecodeAsNilWithACorruptError) {
    Data bytes = KeyedArchiver::archivedDataWithRootObject(sampleTrack());
    ClassRegistry::shared().unregisterClass("Artist");
    expectCorrupt(bytes, "Artist unregistered");

    // The name now stands for a class that does not adopt Coding.
    ClassRegistry::shared().registerClass<Plain>("Artist", "NSObject");
    expectCorrupt(bytes, "Artist not Coding");
}

TEST_F(KeyedArchiverTest, AnObjectThatRefusesItsValuesIsNilAndARefusingRootFailsTheArchive) {
    auto root = std::make_shared<Picky>();
    root->required = true;
    root->child = std::make_shared<Picky>(); // will refuse: no "required" key
    auto back = std::dynamic_pointer_cast<Picky>(
        KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(root)));
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->child);

    expectCorrupt(KeyedArchiver::archivedDataWithRootObject(root->child), "refusing root");
}

TEST_F(KeyedArchiverTest, TheHeaderIsAsDocumented) {
    EXPECT_EQ(archive::crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);

    Data bytes = KeyedArchiver::archivedDataWithRootObject(std::make_shared<Node>());
    ASSERT_GE(bytes.length(), 16u);
    const uint8_t* p = bytes.bytes();
    EXPECT_EQ(bytes.view().substr(0, 4), "LVKA");
    EXPECT_EQ(archive::getFixed(p + 4, 2), 1u);
    EXPECT_EQ(archive::getFixed(p + 6, 2), 0u);
    EXPECT_EQ(archive::getFixed(p + 8, 4), bytes.length() - 16);
    EXPECT_EQ(archive::getFixed(p + 12, 4), archive::crc32(p + 16, bytes.length() - 16));
    // One class "Node"; one object of class 0 with its one key "id" = 0 (nil values are not written).
    std::string body = bytes.toString().substr(16);
    EXPECT_EQ(body, std::string("\x01\x04Node\x01\x00\x01\x02id\x04\x00", 14));
}

TEST_F(KeyedArchiverTest, DamagedHeadersAreRefused) {
    std::vector<uint8_t> good = KeyedArchiver::archivedDataWithRootObject(sampleTrack()).toVector();
    auto damaged = [&](auto change) {
        auto copy = good;
        change(copy);
        return Data(std::move(copy));
    };
    expectCorrupt(Data(), "empty");
    expectCorrupt(Data(std::string_view("LVKA")), "magic only");
    expectCorrupt(damaged([](auto& b) { b[0] = 'X'; }), "magic");
    expectCorrupt(damaged([](auto& b) { b[4] = 2; }), "version");
    expectCorrupt(damaged([](auto& b) { b[6] = 1; }), "flags");
    expectCorrupt(damaged([](auto& b) { b.push_back(0); }), "trailing byte");
    expectCorrupt(damaged([](auto& b) { b[8] ^= 1; }), "length");
    expectCorrupt(damaged([](auto& b) { b[12] ^= 1; }), "checksum");
    expectCorrupt(damaged([](auto& b) { b.back() ^= 0x40; }), "body");
    expectCorrupt(reseal(damaged([](auto& b) { b.push_back(0); }).toVector()), "sealed trailing byte");
}

TEST_F(KeyedArchiverTest, LyingCountsAndIndicesAreRefusedWithoutAllocating) {
    auto varint = [](uint64_t v) {
        std::string s;
        archive::putVarint(s, v);
        return s;
    };
    const std::string node = varint(1) + varint(4) + "Node";
    const std::string oneNode = node + varint(1) + varint(0);
    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"no body", ""},
        {"huge class count", varint(uint64_t(1) << 62)},
        {"huge class name", varint(1) + varint(uint64_t(1) << 50) + "Node"},
        {"no objects", node + varint(0)},
        {"huge object count", node + varint(UINT64_MAX) + varint(0) + varint(0)},
        {"class index out of range", node + varint(1) + varint(1) + varint(0)},
        {"huge key count", oneNode + varint(uint64_t(1) << 40)},
        {"huge key length", oneNode + varint(1) + varint(uint64_t(1) << 40)},
        {"unknown tag", oneNode + varint(1) + varint(1) + "k" + "\x7f"},
        {"huge array", oneNode + varint(1) + varint(1) + "k" + "\x0d" + varint(uint64_t(1) << 60)},
        {"huge dictionary", oneNode + varint(1) + varint(1) + "k" + "\x0e" + varint(uint64_t(1) << 60)},
        {"huge string", oneNode + varint(1) + varint(1) + "k" + "\x09" + varint(UINT64_MAX)},
        {"short double", oneNode + varint(1) + varint(1) + "k" + "\x07" + "abc"},
        {"object out of range", oneNode + varint(1) + varint(1) + "k" + "\x10" + varint(1)},
        {"overlong varint",
         oneNode + varint(1) + varint(1) + "k" + "\x04" + std::string(10, '\xff') + "\x01"},
        {"varint past 64 bits",
         oneNode + varint(1) + varint(1) + "k" + "\x05" + std::string(9, '\xff') + "\x02"},
        {"bad URL", oneNode + varint(1) + varint(1) + "k" + "\x0c" + varint(3) + "a b"},
        {"missing value", oneNode + varint(1) + varint(1) + "k"},
    };
    for (const auto& [label, body] : bodies)
        expectCorrupt(sealed(body), label);

    // The same frame with honest numbers is a valid archive: the cases above fail for their lie.
    auto honest = KeyedUnarchiver::unarchiveObjectWithData(
        sealed(oneNode + varint(1) + varint(1) + "k" + "\x0d" + varint(2) + "\x01\x10" + varint(0)));
    EXPECT_TRUE(std::dynamic_pointer_cast<Node>(honest));
    auto nested =
        KeyedUnarchiver::unarchiveObjectWithData(sealed(node + varint(1) + varint(0) + varint(1) + varint(7) +
                                                        "members" + "\x0d" + varint(1) + "\x10" + varint(0)));
    ASSERT_TRUE(std::dynamic_pointer_cast<Node>(nested));
    auto self = std::static_pointer_cast<Node>(nested);
    EXPECT_EQ(self->members[size_t{0}].object(), self); // a self-reference is the object itself
    self->members = Value();
}

TEST_F(KeyedArchiverTest, EveryTruncationAndByteFlipDecodesAsNilOrAnObjectNeverACrash) {
    auto root = std::make_shared<Node>();
    auto track = sampleTrack();
    root->next = std::make_shared<Node>();
    root->members = Value::array({track, track->artist, Value::dictionary({{"n", 1.5}})});
    std::vector<uint8_t> good = KeyedArchiver::archivedDataWithRootObject(root).toVector();
    ASSERT_GT(good.size(), 100u);

    for (size_t cut = 0; cut < good.size(); ++cut)
        expectCorrupt(Data(good.data(), cut), "cut at " + std::to_string(cut));

    size_t decoded = 0;
    for (size_t at = 0; at < good.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto damaged = good;
            damaged[at] ^= flip;
            // Unsealed, the checksum catches the flip.
            expectCorrupt(Data(damaged), "flip at " + std::to_string(at));
            // Resealed, the structure checks stand alone: nil with an error, or some object.
            ErrorPtr error;
            ObjectPtr object = KeyedUnarchiver::unarchiveObjectWithData(reseal(damaged), &error);
            EXPECT_NE(object == nullptr, error == nullptr) << at;
            if (object) {
                ++decoded;
                untie(object);
            }
        }
    }
    EXPECT_GT(decoded, 0u);
}

TEST_F(KeyedArchiverTest, FilesAreWrittenAtomicallyAndReadBack) {
    auto path = platform::Paths::documents() / "track.archive";
    ASSERT_TRUE(KeyedArchiver::archiveRootObject(sampleTrack(), path));
    ErrorPtr error;
    auto back = std::dynamic_pointer_cast<Track>(KeyedUnarchiver::unarchiveObjectWithFile(path, &error));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title, "Song");

    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithFile(path.parent_path() / "missing", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), platform::NSFileReadNoSuchFileError);
    EXPECT_FALSE(KeyedArchiver::archiveRootObject(std::make_shared<Plain>(), path, &error));
    EXPECT_TRUE(std::dynamic_pointer_cast<Track>(KeyedUnarchiver::unarchiveObjectWithFile(path)));
}
