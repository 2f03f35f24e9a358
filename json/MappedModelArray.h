#pragma once
// MappedModelArray: the lazy array a ConvertOnDemand property imports as. It keeps the raw JSON
// dictionaries and turns each into a model of its target class the first time it is read; the model
// then replaces the dictionary, so a second read answers the same object. An element that does not
// import reads as null every time and stays raw (a later read tries again).
//
// Promises: reads past the end (firstObject / lastObject of an empty array too) answer null; count()
// never converts; iteration converts every element it passes. The storage is guarded, so reads from
// several threads at once are safe (each element is still converted once). mutableCopy() is an
// independent array: conversions in one never show in the other. Export writes each element as its
// model's dictionary, or as its raw dictionary when it does not convert.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

class MappedModel;

class MappedModelArray final : public platform::Object {
public:
    // initWithArray:modelClass: (`array` is a Value array; anything else gives an empty storage).
    MappedModelArray(const platform::Value& array, std::string modelClassName);

    const std::string& targetClassName() const { return m_targetClass; }

    // objectAtIndexedSubscript: / objectAtIndex:
    std::shared_ptr<MappedModel> objectAtIndex(size_t index);
    std::shared_ptr<MappedModel> operator[](size_t index) { return objectAtIndex(index); }
    template <typename T> std::shared_ptr<T> objectAs(size_t index) {
        return std::dynamic_pointer_cast<T>(objectAtIndex(index));
    }
    std::shared_ptr<MappedModel> firstObject();
    std::shared_ptr<MappedModel> lastObject();
    size_t count() const;

    // The first element whose index property (of the target class) equals `value`; null when the
    // class has no index property or nothing matches. Raw elements are converted as the search
    // reaches them.
    std::shared_ptr<MappedModel> modelWithIndexValue(const platform::Value& value);

    std::shared_ptr<MappedModelArray> mutableCopy() const;

    // The stored elements as they stand: models read so far, raw dictionaries for the rest. The
    // operations a plain array offers (sorting, filtering...) work on this.
    platform::ValueArray storage() const;
    // Every element converted where it can be: models, and the raw element where it cannot.
    platform::ValueArray allObjects();
    // For export: each element's dictionary, the raw dictionary for one that does not convert.
    platform::Value toJSONArray();

    std::string description() const override;

    // Reads every element in order, converting as it goes (fast enumeration).
    class Iterator {
    public:
        Iterator(MappedModelArray* array, size_t index)
            : m_array(array)
            , m_index(index) {}
        std::shared_ptr<MappedModel> operator*() const { return m_array->objectAtIndex(m_index); }
        Iterator& operator++() {
            ++m_index;
            return *this;
        }
        bool operator==(const Iterator& other) const { return m_index == other.m_index; }

    private:
        MappedModelArray* m_array;
        size_t m_index;
    };
    Iterator begin() { return Iterator(this, 0); }
    Iterator end() { return Iterator(this, count()); }

private:
    std::shared_ptr<MappedModel> convertLocked(size_t index);

    mutable std::mutex m_mutex;
    platform::ValueArray m_storage;
    std::string m_targetClass;
};

// NSArray(MappedModel): a plain array answers modelWithIndexValue: with null, so callers may treat
// plain and lazy arrays alike.
std::shared_ptr<MappedModel> modelWithIndexValue(const platform::ValueArray& array,
                                                 const platform::Value& value);
