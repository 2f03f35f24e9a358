// Reads any bytes as a keyed archive of two small classes. Inputs get their length and checksum
// mended first, so mutations reach the structure checks and the objects' decoding instead of
// dying at the checksum (the bytes as given are read too, for the header checks). Beyond not
// crashing or leaking, it holds the unarchiver to its promises: the result is an object or an
// error, never both; and a graph that decodes archives again to bytes that decode and archive
// once more to the very same bytes.
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/KeyedArchiveFormat.h"
#include "platform/foundation/KeyedUnarchiver.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

using namespace platform;
namespace archive = platform::detail::archive;

namespace {

// Every decoded object, so that the links of graphs left in cycles (which shared pointers keep
// alive, as the unarchiver documents) can be cut after each input.
std::set<class Linked*>& liveObjects() {
    static std::set<Linked*> objects;
    return objects;
}

class Linked : public Object, public Coding {
public:
    Linked() { liveObjects().insert(this); }
    ~Linked() override { liveObjects().erase(this); }
    virtual void untie(std::vector<Value>& graveyard) = 0;
};

// Reads every kind of key and keeps what it reads, so archiving it again shows what was decoded.
class FuzzNode final : public Linked {
public:
    std::string name;
    int64_t count{0};
    int32_t small{0};
    bool flag{false};
    double ratio{0};
    float weight{0};
    std::shared_ptr<FuzzNode> next;
    ObjectPtr other;
    Value payload;

    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(name, "name");
        coder.encodeInteger(count, "count");
        coder.encodeInt32(small, "small");
        coder.encodeBool(flag, "flag");
        coder.encodeDouble(ratio, "ratio");
        coder.encodeFloat(weight, "weight");
        coder.encodeObject(next, "next");
        coder.encodeObject(other, "other");
        coder.encodeObject(payload, "payload");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        name = coder.decodeObjectForKey("name").stringOr();
        count = coder.decodeIntegerForKey("count");
        small = coder.decodeInt32ForKey("small");
        flag = coder.decodeBoolForKey("flag");
        ratio = coder.decodeDoubleForKey("ratio");
        weight = coder.decodeFloatForKey("weight");
        next = coder.decodeObjectOfClass<FuzzNode>("next");
        other = coder.decodeObjectForKey("other").object();
        payload = coder.decodeObjectForKey("payload");
        return true;
    }
    void untie(std::vector<Value>& graveyard) override {
        graveyard.emplace_back(std::move(next));
        graveyard.emplace_back(std::move(other));
        graveyard.push_back(std::move(payload));
        next = nullptr;
        other = nullptr;
        payload = Value();
    }
};

// Refuses itself without "required", and fails the whole archive when "abort" is true.
class FuzzStrict final : public Linked {
public:
    int64_t level{0};
    Value child;

    void encodeWithCoder(KeyedArchiver& coder) const override {
        if (level >= 0)
            coder.encodeInteger(level, "required");
        coder.encodeObject(child, "child");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        if (!coder.containsValueForKey("required"))
            return false;
        if (coder.decodeBoolForKey("abort")) {
            coder.failWithError(nullptr);
            return false;
        }
        level = coder.decodeIntegerForKey("required");
        if (level < 0)
            return false;
        child = coder.decodeObjectForKey("child");
        return true;
    }
    void untie(std::vector<Value>& graveyard) override {
        graveyard.push_back(std::move(child));
        child = Value();
    }
};

void untieEverything() {
    std::vector<Value> graveyard;
    std::vector<Linked*> objects(liveObjects().begin(), liveObjects().end());
    // Nothing dies while links are moved to the graveyard, so every pointer stays good.
    for (Linked* object : objects)
        object->untie(graveyard);
    graveyard.clear();
    fatalUnless(liveObjects().empty(), "decoded objects outlived every link to them");
}

void unarchive(const Data& data) {
    ErrorPtr error;
    ObjectPtr root = KeyedUnarchiver::unarchiveObjectWithData(data, &error);
    fatalUnless(!root != !error, "a result must be an object or an error, not both");
    if (!root) {
        fatalUnless(error->code() == NSCoderReadCorruptError, "a refused archive must say it is corrupt");
        return;
    }
    // Whatever decoded must be safe to hash, compare and describe, however odd its numbers.
    if (auto node = std::dynamic_pointer_cast<FuzzNode>(root)) {
        (void)node->payload.hash();
        (void)(node->payload == node->payload);
        (void)node->payload.description();
    }
    ErrorPtr archiveError;
    Data once = KeyedArchiver::archivedDataWithRootObject(root, &archiveError);
    if (once.empty())
        std::fprintf(stderr, "fuzz_keyed_archive: %s\n", archiveError->description().c_str());
    fatalUnless(!once.empty(), "a decoded graph could not be archived");
    root = nullptr;
    untieEverything();

    ObjectPtr again = KeyedUnarchiver::unarchiveObjectWithData(once, &error);
    if (!again)
        std::fprintf(stderr, "fuzz_keyed_archive: %s\n", error->description().c_str());
    fatalUnless(again != nullptr, "an archive we wrote does not decode");
    Data twice = KeyedArchiver::archivedDataWithRootObject(again);
    fatalUnless(twice == once, "archiving is not stable across a round trip");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ClassRegistry::shared().registerClass<FuzzNode>("FuzzNode", "NSObject");
    ClassRegistry::shared().registerClass<FuzzStrict>("FuzzStrict", "NSObject");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    Data given(bytes, size);
    unarchive(given);
    untieEverything();
    if (size >= archive::kHeaderSize) {
        std::vector<uint8_t> mended(bytes, bytes + size);
        size_t body = size - archive::kHeaderSize;
        uint32_t crc = archive::crc32(mended.data() + archive::kHeaderSize, body);
        for (int i = 0; i < 4; ++i) {
            mended[8 + i] = static_cast<uint8_t>(body >> (8 * i));
            mended[12 + i] = static_cast<uint8_t>(crc >> (8 * i));
        }
        if (mended != std::vector<uint8_t>(bytes, bytes + size)) {
            unarchive(Data(std::move(mended)));
            untieEverything();
        }
    }
    return 0;
}
