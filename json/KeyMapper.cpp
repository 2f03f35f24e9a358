#include "json/KeyMapper.h"

#include "platform/foundation/Text.h"

#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

using platform::Value;
using platform::ValueDictionary;

namespace {

// Remembers every answer of a mapping function. Reads share the lock, so a mapper used by every
// model on every thread costs one shared lock and one hash look-up per answer once it is warm.
KeyMapper::KeyBlock memoised(KeyMapper::KeyBlock function) {
    if (!function)
        return {};
    struct Memo {
        std::shared_mutex mutex;
        std::unordered_map<std::string, std::string> answers;
    };
    auto memo = std::make_shared<Memo>();
    return [function = std::move(function), memo](const std::string& input) {
        {
            std::shared_lock lock(memo->mutex);
            auto it = memo->answers.find(input);
            if (it != memo->answers.end())
                return it->second;
        }
        auto answer = function(input);
        std::unique_lock lock(memo->mutex);
        memo->answers.emplace(input, answer);
        return answer;
    };
}

// The entry for `text` in a mapping dictionary, read as a key path first (nested dictionaries are
// entered at each "."), then as one plain key, so that a dotted JSON key path listed as it is
// ("user.name" -> userName) still maps.
const std::string* lookUp(const ValueDictionary& map, const std::string& text) {
    if (text.find('.') != std::string::npos) {
        const ValueDictionary* current = &map;
        const Value* found = nullptr;
        for (const auto& component : platform::text::componentsSeparatedByString(text, ".")) {
            if (!current) {
                found = nullptr;
                break;
            }
            found = current->find(component);
            if (!found)
                break;
            current = found->dictionary();
        }
        if (found && found->string())
            return found->string();
    }
    const Value* plain = map.find(text);
    return plain ? plain->string() : nullptr;
}

bool isUpperASCII(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigitASCII(char c) {
    return c >= '0' && c <= '9';
}
char lowerASCII(char c) {
    return isUpperASCII(c) ? static_cast<char>(c - 'A' + 'a') : c;
}
char upperASCII(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

KeyMapper::KeyMapper() = default;

KeyMapper::KeyMapper(KeyBlock toModel, KeyBlock toJSON)
    : m_toModel(memoised(std::move(toModel)))
    , m_toJSON(memoised(std::move(toJSON))) {}

KeyMapper::KeyMapper(const ValueDictionary& map) {
    auto toModel = std::make_shared<const ValueDictionary>(map);
    auto toJSON = std::make_shared<const ValueDictionary>(swapKeysAndValuesInDictionary(map));
    m_toModel = [toModel](const std::string& key) {
        auto* name = lookUp(*toModel, key);
        return name ? *name : key;
    };
    m_toJSON = [toJSON](const std::string& name) {
        auto* key = lookUp(*toJSON, name);
        return key ? *key : name;
    };
}

std::optional<std::string> KeyMapper::convertValue(std::string_view value, bool importing) const {
    const KeyBlock& block = importing ? m_toJSON : m_toModel;
    if (!block)
        return std::nullopt;
    return block(std::string(value));
}

ValueDictionary KeyMapper::swapKeysAndValuesInDictionary(const ValueDictionary& dictionary) {
    ValueDictionary swapped;
    for (const auto& [key, value] : dictionary) {
        if (auto* text = value.string())
            swapped.set(*text, Value(key));
        else if (auto* number = value.number())
            swapped.set(number->stringValue(), Value(key));
    }
    return swapped;
}

std::string KeyMapper::underscoreCaseToCamelCase(std::string_view key) {
    if (key.find('_') == std::string_view::npos)
        return std::string(key);
    std::string out;
    out.reserve(key.size());
    bool wordStart = true;
    for (char c : key) {
        if (c == '_') {
            wordStart = true;
            continue;
        }
        out += wordStart ? upperASCII(c) : lowerASCII(c);
        wordStart = false;
    }
    if (!out.empty())
        out[0] = lowerASCII(out[0]);
    return out;
}

std::string KeyMapper::camelCaseToUnderscoreCase(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 4);
    for (char c : name) {
        if (isUpperASCII(c)) {
            out += '_';
            out += lowerASCII(c);
        } else {
            out += c;
        }
    }
    std::string result;
    result.reserve(out.size() + 4);
    for (size_t i = 0; i < out.size();) {
        if (!isDigitASCII(out[i])) {
            result += out[i++];
            continue;
        }
        result += '_';
        while (i < out.size() && isDigitASCII(out[i]))
            result += out[i++];
    }
    return result;
}

std::shared_ptr<KeyMapper> KeyMapper::mapperFromUnderscoreCaseToCamelCase() {
    return std::make_shared<KeyMapper>(
        [](const std::string& key) { return underscoreCaseToCamelCase(key); },
        [](const std::string& name) { return camelCaseToUnderscoreCase(name); });
}

std::shared_ptr<KeyMapper> KeyMapper::mapperFromUpperCaseToLowerCase() {
    return std::make_shared<KeyMapper>(
        [](const std::string& key) { return platform::text::lowercaseASCII(key); },
        [](const std::string& name) { return platform::text::uppercaseASCII(name); });
}

std::shared_ptr<KeyMapper> KeyMapper::mapper(const std::shared_ptr<KeyMapper>& baseKeyMapper,
                                             const ValueDictionary& exceptions) {
    auto toModel = std::make_shared<const ValueDictionary>(exceptions);
    auto toJSON = std::make_shared<const ValueDictionary>(swapKeysAndValuesInDictionary(exceptions));
    return std::make_shared<KeyMapper>(
        [toModel, baseKeyMapper](const std::string& key) {
            if (auto* name = toModel->get(key).string())
                return *name;
            if (baseKeyMapper && baseKeyMapper->JSONToModelKeyBlock())
                return baseKeyMapper->JSONToModelKeyBlock()(key);
            return key;
        },
        [toJSON, baseKeyMapper](const std::string& name) {
            if (auto* key = toJSON->get(name).string())
                return *key;
            if (baseKeyMapper && baseKeyMapper->modelToJSONKeyBlock())
                return baseKeyMapper->modelToJSONKeyBlock()(name);
            return name;
        });
}
