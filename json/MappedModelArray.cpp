#include "json/MappedModelArray.h"

#include "json/MappedModel.h"
#include <fmt/format.h>

using platform::Value;
using platform::ValueArray;

MappedModelArray::MappedModelArray(const Value& array, std::string modelClassName)
    : m_targetClass(std::move(modelClassName)) {
    if (auto* elements = array.array())
        m_storage = *elements;
}

std::shared_ptr<MappedModel> MappedModelArray::convertLocked(size_t index) {
    if (index >= m_storage.size())
        return nullptr;
    Value& element = m_storage[index];
    if (element.isObject() && element.object()->className() == m_targetClass)
        return element.objectAs<MappedModel>();
    auto model = MappedModel::initWithDictionary(m_targetClass, element, nullptr);
    if (model)
        element = Value(model);
    return model;
}

std::shared_ptr<MappedModel> MappedModelArray::objectAtIndex(size_t index) {
    std::lock_guard lock(m_mutex);
    return convertLocked(index);
}

// Reading past the end of an empty array answers null, as a plain array's firstObject does.
std::shared_ptr<MappedModel> MappedModelArray::firstObject() {
    std::lock_guard lock(m_mutex);
    return m_storage.empty() ? nullptr : convertLocked(0);
}

std::shared_ptr<MappedModel> MappedModelArray::lastObject() {
    std::lock_guard lock(m_mutex);
    return m_storage.empty() ? nullptr : convertLocked(m_storage.size() - 1);
}

size_t MappedModelArray::count() const {
    std::lock_guard lock(m_mutex);
    return m_storage.size();
}

// Raw dictionaries cannot tell their index value until they are models, so the search converts
// what it passes; the index property is the target class's, whatever the first element is.
std::shared_ptr<MappedModel> MappedModelArray::modelWithIndexValue(const Value& value) {
    auto indexName = MappedModel::indexPropertyNameOfClass(m_targetClass);
    if (!indexName)
        return nullptr;
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < m_storage.size(); ++i) {
        auto model = convertLocked(i);
        if (model && model->valueForKey(*indexName) == value)
            return model;
    }
    return nullptr;
}

std::shared_ptr<MappedModelArray> MappedModelArray::mutableCopy() const {
    std::lock_guard lock(m_mutex);
    return std::make_shared<MappedModelArray>(Value(m_storage), m_targetClass);
}

ValueArray MappedModelArray::storage() const {
    std::lock_guard lock(m_mutex);
    return m_storage;
}

ValueArray MappedModelArray::allObjects() {
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < m_storage.size(); ++i)
        convertLocked(i);
    return m_storage;
}

// A dictionary that does not import is written back as it came rather than dropped or written as
// null, so an export of a partly bad array loses nothing.
Value MappedModelArray::toJSONArray() {
    ValueArray elements = allObjects();
    ValueArray out;
    out.reserve(elements.size());
    for (auto& element : elements) {
        if (auto model = element.objectAs<MappedModel>())
            out.push_back(model->toDictionary());
        else
            out.push_back(element);
    }
    return Value(std::move(out));
}

std::string MappedModelArray::description() const {
    ValueArray elements = storage();
    std::string text = fmt::format("<MappedModelArray[{}]>\n", m_targetClass);
    for (auto& element : elements) {
        if (auto object = element.object())
            text += object->description();
        else
            text += element.description();
        text += ",\n";
    }
    text += "\n</MappedModelArray>";
    return text;
}

std::shared_ptr<MappedModel> modelWithIndexValue(const ValueArray&, const Value&) {
    return nullptr;
}
